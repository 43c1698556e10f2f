// Base fixture of the unit tests that talk through the scripted driver: fresh
// script per test, assertion reports captured, and after every test the
// session must be closed with no channel, thread, event or lock left.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Platform.h"
#include "session/DeviceSession.h"
#include "tests/support/ScriptedDriver.h"

namespace trax::test {

class DriverTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    ScriptedDriver& driver() { return ScriptedDriver::Instance(); }
    std::vector<std::string> RequestsHex();
    // Assertion reports made since SetUp, as "Module:line".
    std::vector<std::string> Assertions();

    int handleBaseline = 0;  // handles the test itself owns before it starts
};

}  // namespace trax::test
