// How a command ends when it cannot do what it was asked: a usage error (exit 2)
// or a failure (exit 1, or 3 for a lost camera), each with one line for the user.
#pragma once

#include <string>

constexpr int kSuccess = 0;
constexpr int kFailure = 1;
constexpr int kUsageError = 2;
constexpr int kCameraLost = 3;  // --no-reconnect: the camera went away
constexpr int kInterrupted = 130;

struct UsageError {
    std::string message;
};

struct Failure {
    std::string message;
    int code = kFailure;
};
