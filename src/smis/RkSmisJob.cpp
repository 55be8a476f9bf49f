#include "smis/RkSmisJob.h"

#include <chrono>
#include <climits>
#include <cstdlib>
#include <exception>
#include <thread>

#include <cim/CIMPropertyList.h>
#include <cim/Exception.h>

#include "RkCimUtilInternal.h"

cim::CIMObjectPath RkSmisJob::GetJobHandle(cim::Array<cim::CIMParamValue>& outParams) {
    for (const cim::CIMParamValue& param : outParams) {
        const cim::CIMValue& value = param.getValue();
        // A null reference names no job; a later "Job" may.
        if (value.getType() != cim::CIMTYPE_REFERENCE || value.isArray() || value.isNull())
            continue;
        if (param.getParameterName() != "Job") continue;
        cim::CIMObjectPath job;
        value.get(job);
        return job;
    }
    return cim::CIMObjectPath();
}

cim::CIMInstance RkSmisJob::GetJobInstance(cim::CIMObjectPath& job, RkCimConnection& conn) {
    const char* fn = "SMIS::GetJobInstance";
    try {
        std::shared_ptr<cim::CIMClient> client = conn.GetClient();
        // Not connected: nothing to read, the same as a job that cannot be read.
        if (!client) throw cim::NotConnectedException();
        cim::CIMPropertyList props({"JobStatus", "JobState", "PercentComplete"});
        return client->getInstance(conn.GetNameSpace(), job, false, false, false, props);
    } catch (const cim::CIMException& e) {
        if (!rkcimutil::IsNotFound(e))
            rkcimutil::TraceCimException(*this, fn, __FILE__, __LINE__, e);
    } catch (const cim::Exception& e) {
        rkcimutil::TraceException(*this, fn, __FILE__, __LINE__, e);
    } catch (const std::exception& e) {
        DEBUG_TRACE(fn, "%s: %d: Caught Exception: %s", rkcimutil::BaseName(__FILE__), __LINE__,
                    e.what());
    }
    return cim::CIMInstance();
}

bool RkSmisJob::IsJobDone(int state) {
    return state == RK_JOB_COMPLETED || state == RK_JOB_TERMINATED || state == RK_JOB_KILLED ||
           state == RK_JOB_EXCEPTION;
}

bool RkSmisJob::IsJobDone(cim::CIMInstance instance) {
    return IsJobDone(atoi(GetCIMProp(instance, "JobState").c_str()));
}

bool RkSmisJob::IsJobDone(cim::CIMObjectPath job, RkCimConnection& conn) {
    cim::CIMInstance instance = GetJobInstance(job, conn);
    if (instance.isUninitialized()) return true;
    return IsJobDone(instance);
}

std::string RkSmisJob::GetjobStateString(int state) {
    switch (state) {
        case RK_JOB_NEW:
            return "New";
        case RK_JOB_STARTING:
            return "Starting";
        case RK_JOB_RUNNING:
            return "Running";
        case RK_JOB_SUSPENDED:
            return "Suspended";
        case RK_JOB_SHUTTING_DOWN:
            return "Shutting Down";
        case RK_JOB_COMPLETED:
            return "Completed";
        case RK_JOB_TERMINATED:
            return "Terminated";
        case RK_JOB_KILLED:
            return "Killed";
        case RK_JOB_EXCEPTION:
            return "Exception";
        case RK_JOB_SERVICE:
            return "Service";
        default:
            return std::to_string(state) + ": Unknown state";
    }
}

int RkSmisJob::PrintJobSummary(cim::CIMObjectPath& job, RkCimConnection& conn,
                               int& percentComplete) {
    const char* fn = "SMIS::PrintJobSummary";
    cim::CIMInstance instance = GetJobInstance(job, conn);
    if (instance.isUninitialized()) return RK_JOB_COMPLETED;  // a vanished job has completed

    int state = atoi(GetCIMProp(instance, "JobState").c_str());
    std::string status = GetCIMProp(instance, "JobStatus");
    percentComplete = atoi(GetCIMProp(instance, "PercentComplete").c_str());
    std::string stateText = GetjobStateString(state);
    DEBUG_TRACE_NORMAL(fn, "Job-State %d: %s, %d %%   %s\n", state, stateText.c_str(),
                       percentComplete, status.c_str());
    if (stateText == "Terminated" || stateText == "Exception" ||
        stateText.find("Unknown") != std::string::npos)
        DEBUG_TRACE_NORMAL(fn, "\tStatus = %s, %s, %s\n", GetCIMProp(instance, "Status").c_str(),
                           GetCIMProp(instance, "StatusDescriptions").c_str(),
                           GetCIMProp(instance, "ErrorDescription").c_str());
    return state;
}

int RkSmisJob::WatchJob(cim::CIMObjectPath& job, RkCimConnection& conn, int maxTries,
                        int intervalSecs) {
    const char* fn = "SMIS::WatchJob";
    // intervalSecs x 1000 must fit the millisecond argument.
    const int sleepMs = intervalSecs <= 0               ? 0
                        : intervalSecs > INT_MAX / 1000 ? INT_MAX
                                                        : intervalSecs * 1000;
    int percent = 0;
    int tries = 0;
    while (tries < maxTries && !IsJobDone(job, conn)) {
        DEBUG_TRACE(fn, "Try %u", static_cast<unsigned>(tries));
        ++tries;
        GotoSleep(sleepMs);
        PrintJobSummary(job, conn, percent);
    }
    int ret = PrintJobSummary(job, conn, percent);
    DEBUG_TRACE(fn, "ret %u", static_cast<unsigned>(ret));
    // Only a job that is still not final is assumed to complete; one that failed on
    // the last poll keeps its failed state.
    if (tries >= maxTries && !IsJobDone(ret)) {
        DEBUG_TRACE(fn, "Max tries exceeded if its Running assuming, it will complete");
        return RK_JOB_COMPLETED;
    }
    return ret;
}

void RkSmisJob::GotoSleep(int milliseconds) {
    if (milliseconds <= 0) return;
    // Round up: 1..1000 ms sleep one second, 1001 ms two.
    unsigned int seconds = static_cast<unsigned int>(milliseconds / 1000);
    if (milliseconds % 1000 != 0) ++seconds;
    SleepSeconds(seconds);
}

void RkSmisJob::SleepSeconds(unsigned int seconds) {
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
}
