// Watching of SMI-S jobs started by provider methods (return value 4096 with an
// output parameter "Job"): find the job, poll it to a final state within a budget
// of tries, and trace a summary at every poll.
#pragma once

#include <string>

#include <cim/CIMInstance.h>
#include <cim/CIMObjectPath.h>
#include <cim/CIMParamValue.h>
#include <cim/Types.h>

#include "smis/RkCimConnection.h"
#include "smis/RkCimUtil.h"

// Job states ("JobState") that the watch code names.
enum RK_SMIS_JOB_STATE {
    RK_JOB_NEW = 2,
    RK_JOB_STARTING = 3,
    RK_JOB_RUNNING = 4,
    RK_JOB_SUSPENDED = 5,
    RK_JOB_SHUTTING_DOWN = 6,
    RK_JOB_COMPLETED = 7,
    RK_JOB_TERMINATED = 8,
    RK_JOB_KILLED = 9,
    RK_JOB_EXCEPTION = 10,
    RK_JOB_SERVICE = 11,
};

class RkSmisJob : public virtual RkCimUtil {
  public:
    RkSmisJob() = default;
    ~RkSmisJob() override = default;
    RkSmisJob(const RkSmisJob&) = default;
    RkSmisJob& operator=(const RkSmisJob&) = default;

    // The first reference-typed output parameter named "Job"; an empty path when none.
    cim::CIMObjectPath GetJobHandle(cim::Array<cim::CIMParamValue>& outParams);

    // Reads the job straight from the connection's client (no retry), with every
    // property PrintJobSummary shows. A job that no longer exists (CIM status 6) gives
    // an empty instance without a trace; other failures are traced and give one too.
    cim::CIMInstance GetJobInstance(cim::CIMObjectPath& job, RkCimConnection& conn);

    // 7, 8, 9 and 10 are final.
    bool IsJobDone(int state);
    bool IsJobDone(cim::CIMInstance instance);
    // A job that no longer exists counts as done; one that cannot be read does not.
    bool IsJobDone(cim::CIMObjectPath job, RkCimConnection& conn);

    // "Completed", ..., or "<n>: Unknown state".
    std::string GetjobStateString(int state);

    // Traces the job's state and returns it. A job that no longer exists is taken as
    // completed (7); one that cannot be read as failed (10). Neither changes
    // percentComplete.
    int PrintJobSummary(cim::CIMObjectPath& job, RkCimConnection& conn, int& percentComplete);

    // Polls until the job is final or maxTries polls of intervalSecs each are spent,
    // and returns the final state. A job that vanished (CIM_ERR_NOT_FOUND) or is still
    // running when the budget is spent is reported as completed (7). A failed poll
    // counts as a try and is repeated after the sleep; when no poll could read the
    // job at all the result is 10 (Exception).
    int WatchJob(cim::CIMObjectPath& job, RkCimConnection& conn, int maxTries, int intervalSecs);

    // Sleeps the milliseconds rounded up to whole seconds (0 does not sleep).
    void GotoSleep(int milliseconds);

  protected:
    // The one place that waits: the host's sleep (UXSLEEP_InTeRnAl), which follows
    // the host clock. Tests that need one object's waits alone may override it.
    virtual void SleepSeconds(unsigned int seconds);

  private:
    // One read of a job: the instance, or why there is none.
    struct JobRead {
        enum Outcome { kRead, kVanished, kFailed } outcome = kFailed;
        cim::CIMInstance instance;
    };
    JobRead ReadJob(cim::CIMObjectPath& job, RkCimConnection& conn);
    // Traces a read job as PrintJobSummary does and returns its state.
    int Summarize(const cim::CIMInstance& instance, int& percentComplete);
};
