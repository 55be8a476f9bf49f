// Connection to an SMI-S provider (CIMOM). It carries its own tracer, bound to the
// same device as the snapshot that owns it, and the credential-failure flag that
// the snapshot's error reporting reads. The endpoint, the client and the retrying
// read operations belong here as well.
#pragma once

#include "smis/RkSmisTracer.h"

class RkCimConnection : public virtual RkSmisTracer {
  public:
    RkCimConnection() = default;
    virtual ~RkCimConnection() = default;
    RkCimConnection(const RkCimConnection&) = default;
    RkCimConnection& operator=(const RkCimConnection&) = default;

    // True once the CIMOM rejected the credentials (already reported to the host).
    bool AuthFailed() const { return m_AuthFailed; }
    // Records a credential rejection; the read operations call this on HTTP 401.
    void SetAuthFailed(bool failed) { m_AuthFailed = failed; }
};
