// Error values of the host's device services.
//
// CUxError carries the outcome of a device call: Success() clears it, a failing
// call sets a code (an errno value, or -1 where there is none) and a readable text.
// RkException is what a caller throws with such a text.
#pragma once

#include <exception>
#include <string>
#include <utility>

class CUxError {
  public:
    CUxError() = default;

    // Back to "no error".
    void Success() {
        m_code = 0;
        m_text.clear();
    }
    // Records a failure; code 0 is taken as -1 so that a failure is never "no error".
    void Set(int code, const std::string& text) {
        m_code = code == 0 ? -1 : code;
        m_text = text;
    }
    bool Failed() const { return m_code != 0; }
    int Code() const { return m_code; }
    // The failure's text; empty after Success().
    std::string AsString() const { return m_text; }

  private:
    int m_code = 0;
    std::string m_text;
};

class RkException : public std::exception {
  public:
    explicit RkException(std::string message) : m_message(std::move(message)) {}
    const char* what() const noexcept override { return m_message.c_str(); }
    const std::string& getMessage() const { return m_message; }

  private:
    std::string m_message;
};
