// Any bytes as a request to a business class, on a throwaway copy of the demo company: the
// first line names the class ("CLoan"), the rest is the request document. Whatever comes, the
// call ends with a document and never crashes; the administrator's session can reach every
// operation.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "db/connection.h"
#include "frame/registry.h"
#include "host/database_setup.h"
#include "host/local_session.h"
#include "xml/document.h"

namespace {

std::unique_ptr<rembiz::host::LocalSession> g_session;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() / ("rembiz-fuzz-" + std::to_string(getpid()));
  fs::remove_all(dir);
  rembiz::host::DataDir data(dir.string());
  rembiz::host::InitOptions options;
  options.demo = true;
  rembiz::host::InitDataDirectory(data, options);
  rembiz::host::SessionRequest request;
  request.user = "demo";
  g_session = rembiz::host::LocalSession::Open(data, request);
  // A slow query must not look like a hang.
  rembiz::db::ReadOnlyLimits limits;
  limits.seconds = 1;
  rembiz::db::SetReadOnlyLimits(limits);
  std::atexit([] {
    g_session.reset();
    rembiz::db::ClearConnectionPool();
    std::error_code ignored;
    fs::remove_all(fs::temp_directory_path() / ("rembiz-fuzz-" + std::to_string(getpid())),
                   ignored);
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  size_t line_end = input.find('\n');
  if (line_end == std::string_view::npos) return 0;
  std::string prog_id = "Rembiz." + std::string(input.substr(0, line_end));
  if (!rembiz::frame::IsRegistered(prog_id)) return 0;
  rembiz::xml::Document request;
  if (!request.LoadXml(input.substr(line_end + 1))) return 0;
  rembiz::frame::CreateObject(prog_id)->myHandle(g_session.get(), request);
  if (request.Empty()) std::abort();  // every call answers a document
  (void)request.Xml();
  return 0;
}
