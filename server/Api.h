// The JSON API under /api/: one table of routes, each a handler that runs on
// the device thread. Handlers check their whole input before the first
// library call, so a bad request gets a 4xx and nothing reaches the
// controller; a call that returns 0 gets a 502 naming the call and why.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "Device.h"

namespace traxserve {

struct Request {
    std::string method;
    std::string target;
    std::string path;
    std::string body;
};

struct Reply {
    int status = 200;
    std::string contentType = "application/json";
    std::string body;
    std::map<std::string, std::string> headers;
};

// Wrong input: thrown by a handler before it calls the library.
struct BadInput {
    int status;
    std::string error;
};

// What the handlers know about the server they run in.
struct ApiContext {
    Device* device = nullptr;
    std::string unit;  // the name of the values' unit (--unit), "" when not known
    bool readOnly = false;
    std::string version;
    // When this server started and stopped the storage, for its CSV; the
    // controller does not say. Device thread only.
    std::string storageStart, storageStop;
};

struct Route {
    const char* method;  // "GET" or "POST"
    const char* path;
    bool changes;           // needs POST, JSON, own Origin; refused when read-only
    std::size_t bodyLimit;  // bytes; larger gets 413
    Reply (*handle)(ApiContext&, const Request&);
    // A read that switches the controller to setting mode (settings, the
    // program number): guarded as Guard::LeavesMeasurement.
    bool leavesMeasurement = false;
};

const std::vector<Route>& Routes();
// The route for a method and path; null when there is none.
const Route* FindRoute(const std::string& method, const std::string& path);
// The methods a path takes ("GET, POST"); empty when no route has that path.
std::string MethodsOf(const std::string& path);

// {"error": ...} with the status.
Reply ErrorReply(int status, const std::string& error);
// 502 {"error":..., "function":..., "reason":...}.
Reply FailureReply(const CallFailure& failure);
// Runs the route's handler, turning BadInput and CallFailure into replies.
Reply Handle(const Route& route, ApiContext& context, const Request& request);

// The live poll: both heads' values as {"t":..,"A":{..},"B":{..}}.
std::string PollValues(Device& device, const std::string& unit);

}  // namespace traxserve
