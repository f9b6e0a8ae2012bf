#include "app/app_pages.h"

#include <string_view>

#include "db/text.h"
#include "host/embedded_files.h"

namespace rembiz::app {
namespace {

constexpr std::string_view kAppFolder = "web/app/";

std::string_view ContentType(std::string_view name) {
  auto ends = [&](std::string_view suffix) {
    return name.size() >= suffix.size() && name.substr(name.size() - suffix.size()) == suffix;
  };
  if (ends(".html")) return "text/html; charset=utf-8";
  if (ends(".js")) return "text/javascript; charset=utf-8";
  if (ends(".css")) return "text/css; charset=utf-8";
  if (ends(".svg")) return "image/svg+xml";
  return "application/octet-stream";
}

// The embedded file web/app/<name>, or null.
const host::EmbeddedFile* AppFile(std::string_view name) {
  for (const host::EmbeddedFile& file : host::EmbeddedFiles()) {
    if (file.path.size() == kAppFolder.size() + name.size() &&
        file.path.substr(0, kAppFolder.size()) == kAppFolder &&
        file.path.substr(kAppFolder.size()) == name) {
      return &file;
    }
  }
  return nullptr;
}

void Serve(const httplib::Request&, httplib::Response& res, std::string_view name) {
  const host::EmbeddedFile* file = AppFile(name);
  if (!file) {
    res.status = 404;  // the service's error handler writes the error document
    return;
  }
  res.set_header("Content-Security-Policy", kAppContentSecurityPolicy);
  res.set_content(std::string(file->content), std::string(ContentType(name)));
}

}  // namespace

const char kAppContentSecurityPolicy[] =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; "
    "connect-src 'self'; form-action 'self'; frame-ancestors 'none'; base-uri 'none'";

void AddAppPages(httplib::Server& server) {
  server.Get("/app",
             [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/app/"); });
  server.Get("/app/", [](const httplib::Request& req, httplib::Response& res) {
    Serve(req, res, "index.html");
  });
  server.Get(R"(/app/([a-z][a-z0-9_-]{0,40}\.(?:html|js|css|svg)))",
             [](const httplib::Request& req, httplib::Response& res) {
               Serve(req, res, req.matches[1].str());
             });
}

bool OriginAllowed(const httplib::Request& req) {
  if (req.method == "GET" || req.method == "HEAD" || req.method == "OPTIONS") return true;
  if (!req.has_header("Origin")) return true;
  std::string origin = db::Lower(db::Trim(req.get_header_value("Origin")));
  std::string host = db::Lower(db::Trim(req.get_header_value("Host")));
  // The scheme may differ behind a TLS proxy; the site is the host and port the browser asked.
  for (std::string_view scheme : {"http://", "https://"}) {
    if (!host.empty() && origin == std::string(scheme) + host) return true;
  }
  return false;
}

}  // namespace rembiz::app
