#include "client/Failure.h"

#include <utility>

namespace trax::client {

std::string Failure::Text() const {
    std::string text = function + " failed";
    if (!reason.empty()) text += ": " + reason;
    return text;
}

CallError::CallError(Failure failure) : std::runtime_error(failure.Text()), failure_(std::move(failure)) {}

bool PrepareReasonTap() { return false; }

void CloseReasonTap() {}

Failure FailureOf(const char* function) { return Failure{function, "", std::nullopt, ""}; }

void AddHint(Failure&) {}

void Check(int result, const char* function) {
    if (result != 1) throw CallError(FailureOf(function));
}

}  // namespace trax::client
