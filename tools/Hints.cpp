#include "Hints.h"

#include "Cli.h"

namespace traxctl {

std::string HintFor(const trax::client::Failure& failure, trax::client::Controller&) {
    // The diagnosis's own question is part of reporting the failure: Ctrl-C
    // does not cut it short.
    const CtrlCBetweenRows diagnosing;
    // traxctl's words are still the reason tap's (client/Failure.cpp); the
    // server words the same diagnosis (client/Diagnosis.h) for its page.
    trax::client::Failure hinted = failure;
    trax::client::AddHint(hinted);
    return hinted.hint;
}

}  // namespace traxctl
