// The kind and text of the exception a call raises, so that one assertion checks both.
#pragma once

#include <cim/Exception.h>

#include <functional>
#include <string>

namespace cimtest {

inline std::string failure(const std::function<void()>& f) {
    try {
        f();
    } catch (const cim::CannotConnectException& e) {
        return std::string("connect: ") + e.what();
    } catch (const cim::ConnectionTimeoutException& e) {
        return std::string("timeout: ") + e.what();
    } catch (const cim::ConnectionLostException& e) {
        return std::string("lost: ") + e.what();
    } catch (const cim::HttpException& e) {
        return "http " + std::to_string(e.getStatus()) + ": " + e.what();
    } catch (const cim::CIMException& e) {
        return "cim " + std::to_string(e.getCode()) + ": " + e.what() + " | " + e.getDescription();
    } catch (const cim::ParseException& e) {
        return std::string("parse: ") + e.what();
    } catch (const std::exception& e) {
        return std::string("other: ") + e.what();
    }
    return "no exception";
}

}  // namespace cimtest
