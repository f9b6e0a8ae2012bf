// The self-service pages of the HTTP service under /app/: employees, approvers, cashiers and the
// finance office. They are static files compiled into the program (web/app/) that call the
// classes through /api/ like any other client.
#pragma once

#include <httplib.h>

#include <string>

namespace rembiz::app {

// The policy of every answer under /app/: scripts, styles and calls from the service itself
// only, no inline script, no framing.
extern const char kAppContentSecurityPolicy[];

// Adds the routes /app and /app/<file> to the server.
void AddAppPages(httplib::Server& server);

// False for a state-changing request that a page of another origin sent: its Origin header names
// a site other than the one the request was addressed to. Requests without Origin (scripts, the
// command line, curl) pass; browsers send Origin with every cross-origin POST.
bool OriginAllowed(const httplib::Request& req);

}  // namespace rembiz::app
