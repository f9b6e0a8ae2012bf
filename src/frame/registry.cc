#include "frame/registry.h"

#include <map>
#include <mutex>

namespace rembiz::frame {
namespace {

struct Registry {
  std::mutex mutex;
  std::map<std::string, ClassFactory, std::less<>> factories;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

}  // namespace

void RegisterClass(std::string prog_id, ClassFactory factory) {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  r.factories[std::move(prog_id)] = std::move(factory);
}

std::unique_ptr<BusinessObject> CreateObject(std::string_view prog_id) {
  Registry& r = TheRegistry();
  ClassFactory factory;
  {
    std::lock_guard lock(r.mutex);
    auto it = r.factories.find(prog_id);
    if (it != r.factories.end()) factory = it->second;
  }
  if (!factory) {
    throw ComError(static_cast<int32_t>(0x800401F3),
                   "Invalid class string: " + std::string(prog_id), "Rembiz");
  }
  return factory();
}

bool IsRegistered(std::string_view prog_id) {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  return r.factories.find(prog_id) != r.factories.end();
}

std::vector<std::string> RegisteredClasses() {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  std::vector<std::string> out;
  for (const auto& [name, factory] : r.factories) out.push_back(name);
  return out;
}

}  // namespace rembiz::frame
