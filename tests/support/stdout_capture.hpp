// Collects what the code under test writes to std::cout.
#pragma once

#include <iostream>
#include <sstream>
#include <string>

namespace vuno::testing {

class StdoutCapture {
  public:
    StdoutCapture() : previous_(std::cout.rdbuf(captured_.rdbuf())) {}
    ~StdoutCapture() { std::cout.rdbuf(previous_); }
    StdoutCapture(const StdoutCapture &) = delete;
    StdoutCapture &operator=(const StdoutCapture &) = delete;

    std::string Text() const { return captured_.str(); }

  private:
    std::ostringstream captured_;
    std::streambuf *previous_;
};

} // namespace vuno::testing
