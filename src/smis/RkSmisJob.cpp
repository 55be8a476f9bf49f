#include "smis/RkSmisJob.h"

#include <climits>
#include <cstdlib>
#include <exception>

#include <cim/CIMPropertyList.h>
#include <cim/Exception.h>

#include "RkCimUtilInternal.h"
#include "rkso/RkHostClock.h"

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
    return ReadJob(job, conn).instance;
}

RkSmisJob::JobRead RkSmisJob::ReadJob(cim::CIMObjectPath& job, RkCimConnection& conn) {
    const char* fn = "SMIS::GetJobInstance";
    JobRead read;
    try {
        std::shared_ptr<cim::CIMClient> client = conn.GetClient();
        if (!client) throw cim::NotConnectedException();
        // Everything PrintJobSummary shows.
        cim::CIMPropertyList props({"JobStatus", "JobState", "PercentComplete", "Status",
                                    "StatusDescriptions", "ErrorDescription"});
        read.instance = client->getInstance(conn.GetNameSpace(), job, false, false, false, props);
        read.outcome = JobRead::kRead;
        return read;
    } catch (const cim::CIMException& e) {
        if (rkcimutil::IsNotFound(e)) {
            read.outcome = JobRead::kVanished;
            return read;
        }
        rkcimutil::TraceCimException(*this, fn, __FILE__, __LINE__, e);
    } catch (const cim::Exception& e) {
        rkcimutil::TraceException(*this, fn, __FILE__, __LINE__, e);
    } catch (const std::exception& e) {
        DEBUG_TRACE(fn, "%s: %d: Caught Exception: %s", rkcimutil::BaseName(__FILE__), __LINE__,
                    e.what());
    }
    read.outcome = JobRead::kFailed;
    return read;
}

bool RkSmisJob::IsJobDone(int state) {
    return state == RK_JOB_COMPLETED || state == RK_JOB_TERMINATED || state == RK_JOB_KILLED ||
           state == RK_JOB_EXCEPTION;
}

bool RkSmisJob::IsJobDone(cim::CIMInstance instance) {
    return IsJobDone(atoi(GetCIMProp(instance, "JobState").c_str()));
}

bool RkSmisJob::IsJobDone(cim::CIMObjectPath job, RkCimConnection& conn) {
    JobRead read = ReadJob(job, conn);
    if (read.outcome == JobRead::kVanished) return true;
    return read.outcome == JobRead::kRead && IsJobDone(read.instance);
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
    JobRead read = ReadJob(job, conn);
    if (read.outcome == JobRead::kVanished) return RK_JOB_COMPLETED;
    if (read.outcome == JobRead::kFailed) return RK_JOB_EXCEPTION;
    return Summarize(read.instance, percentComplete);
}

int RkSmisJob::Summarize(const cim::CIMInstance& instance, int& percentComplete) {
    const char* fn = "SMIS::PrintJobSummary";
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
    // What the polls have told so far; a failed poll tells nothing.
    enum { kUnknown, kState, kGone } known = kUnknown;
    int state = 0;
    int percent = 0;
    int polls = 0;
    auto poll = [&](bool summary) {
        ++polls;
        JobRead read = ReadJob(job, conn);
        if (read.outcome == JobRead::kVanished) {
            known = kGone;
        } else if (read.outcome == JobRead::kRead) {
            known = kState;
            state = summary ? Summarize(read.instance, percent)
                            : atoi(GetCIMProp(read.instance, "JobState").c_str());
        }
        return read.outcome;
    };
    auto final = [&](JobRead::Outcome outcome) {
        return outcome == JobRead::kVanished || (outcome == JobRead::kRead && IsJobDone(state));
    };

    int tries = 0;
    if (maxTries > 0) {
        JobRead::Outcome check = poll(false);
        while (tries < maxTries && !final(check)) {
            DEBUG_TRACE(fn, "Try %u", static_cast<unsigned>(tries));
            ++tries;
            GotoSleep(sleepMs);
            check = poll(true);
        }
    }
    poll(true);

    // A vanished job has completed; a job never read is a failure, not a success.
    int ret = known == kGone ? RK_JOB_COMPLETED : known == kState ? state : RK_JOB_EXCEPTION;
    if (known == kUnknown)
        DEBUG_TRACE(fn, "Job [%s] could not be read in %d polls, taking it as failed",
                    job.toString().c_str(), polls);
    DEBUG_TRACE(fn, "ret %u", static_cast<unsigned>(ret));
    // Only a job still seen running is assumed to complete; one that failed on the
    // last poll that read it keeps its failed state.
    if (known == kState && tries >= maxTries && !IsJobDone(state)) {
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
    // The host's sleep, so a host (or a test) that replaces its clock replaces this wait.
    UXSLEEP_InTeRnAl(seconds);
}
