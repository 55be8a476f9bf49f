// E-Series lookups beyond the generic ones: the PiT behind a PiT view, whether a
// PiT still exists, and a volume's current and preferred controllers.
#pragma once

#include <string>

#include "smis/RkCimConnection.h"
#include "smis/RkCimUtil.h"

class LSICimUtil : public RkCimUtil {
  public:
    LSICimUtil() = default;
    ~LSICimUtil() override = default;
    LSICimUtil(const LSICimUtil&) = default;
    LSICimUtil& operator=(const LSICimUtil&) = default;

    // The PiT a PiT view is based on. False when found (outputs filled), true on
    // failure. (LSIPiTView.cpp)
    bool GetPiTElmtNameFromTarget(RkCimConnection connection, std::string sourceDev,
                                  std::string targetView, std::string& pitName,
                                  std::string& pitPath);

    // 1 found, 0 not found, -1 on a failure. (LSIPiTDelete.cpp)
    int CheckPiTExistence(RkCimConnection connection, std::string systemName, std::string pitName,
                          std::string pitClass);

    // 0 found (controller set), 1 not found. (LSISecret.cpp)
    int GetLSICurrentControllerPath(RkCimConnection& conn, std::string systemName,
                                    std::string volume, std::string& controller);
    // 0 found, 1 not found or not applicable. (LSISecret.cpp)
    int GetLSIPreferredControllerPath(RkCimConnection& conn, std::string systemName,
                                      std::string volumePath, std::string& controller);
};
