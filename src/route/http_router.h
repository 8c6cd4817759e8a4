// A router the user runs, asked over HTTP (an OSRM server, local or remote), through the program's
// one fetch engine. Configured in vor_ini.txt (`router=`); nothing is asked unless configured.
// Threads and failure as Router (route.h).
#pragma once

#include <memory>
#include <string>

#include "route/route.h"

namespace vg::route {

// A router for `url` ("http://127.0.0.1:5000"); nullptr with the reason when the URL is not usable or
// this build cannot fetch.
std::unique_ptr<Router> make_http_router(const std::string& url, std::string& error);

}  // namespace vg::route
