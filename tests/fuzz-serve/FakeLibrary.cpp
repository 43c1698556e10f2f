#include "FakeLibrary.h"

#include <atomic>
#include <string>

#include "client/Installation.h"
#include "client/LibraryLoader.h"

namespace trax::fuzz {

namespace {

std::atomic<int> result{1};
std::atomic<std::uint64_t> calls{0};

}  // namespace

void SetFakeResult(int r) { result.store(r); }
std::uint64_t FakeCalls() { return calls.load(); }
int FakeCall() {
    calls.fetch_add(1);
    return result.load();
}

}  // namespace trax::fuzz

// What traxctl's identity code asks of the run-time loader: nothing is loaded.
namespace trax::client {

const LibraryLoad& LoadTraxLibrary() {
    static const LibraryLoad load{};
    return load;
}

std::string DriverPath() { return ""; }

// The version the server's info reply names: the fake's own.
std::string LibraryVersion() { return "fake"; }

}  // namespace trax::client
