// traxctl publish: its options, checked before anything is sent or opened.
#pragma once

namespace traxctl {

struct Context;
int RunPublish(Context& ctx);

}  // namespace traxctl
