#include "tests/support/DriverTest.h"

#include <mutex>

namespace trax::test {

namespace {
std::mutex assertionMutex;
std::vector<std::string> assertionLog;

void RecordAssertion(const char* module, int line) {
    std::lock_guard<std::mutex> guard(assertionMutex);
    assertionLog.push_back(std::string(module) + ":" + std::to_string(line));
}
}  // namespace

void DriverTest::SetUp() {
    driver().Reset();
    session::SetLibraryUsableForTesting(true);
    {
        std::lock_guard<std::mutex> guard(assertionMutex);
        assertionLog.clear();
    }
    platform::SetAssertionHook(&RecordAssertion);
    handleBaseline = platform::LiveHandleCount();
    platform::Notification stale;
    while (platform::TakeNotification(&stale)) {
    }
}

void DriverTest::TearDown() {
    EXPECT_EQ(session::TheSession().OpenCount(), 0);
    EXPECT_EQ(session::TheSession().Exists(), 0);
    EXPECT_EQ(platform::LiveHandleCount(), handleBaseline) << "an event, lock or thread outlived the call";
}

std::vector<std::string> DriverTest::RequestsHex() {
    std::vector<std::string> out;
    for (const Bytes& request : driver().Requests()) out.push_back(Hex(request));
    return out;
}

std::vector<std::string> DriverTest::Assertions() {
    std::lock_guard<std::mutex> guard(assertionMutex);
    return assertionLog;
}

}  // namespace trax::test
