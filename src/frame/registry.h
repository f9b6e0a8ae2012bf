// Creation of business classes by ProgID ("Rembiz.CLoan"), as callers and the classes themselves
// create one another.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "frame/business_object.h"

namespace rembiz::frame {

using ClassFactory = std::function<std::unique_ptr<BusinessObject>()>;

void RegisterClass(std::string prog_id, ClassFactory factory);

// A new object of the class; an unknown ProgID throws ComError 0x800401F3 ("Invalid class string").
std::unique_ptr<BusinessObject> CreateObject(std::string_view prog_id);
bool IsRegistered(std::string_view prog_id);
std::vector<std::string> RegisteredClasses();

// Registers a class at start-up: `static ClassRegistrar registrar("Rembiz.CLoan", ...);`.
struct ClassRegistrar {
  ClassRegistrar(std::string prog_id, ClassFactory factory) {
    RegisterClass(std::move(prog_id), std::move(factory));
  }
};

// Creates an object of a registered class and casts it to the type the caller expects (the
// public procedures of another class); throws ComError when it is not that type.
template <class T>
std::unique_ptr<T> CreateObjectAs(std::string_view prog_id);

}  // namespace rembiz::frame

#include "db/error.h"

namespace rembiz::frame {

template <class T>
std::unique_ptr<T> CreateObjectAs(std::string_view prog_id) {
  std::unique_ptr<BusinessObject> object = CreateObject(prog_id);
  T* typed = dynamic_cast<T*>(object.get());
  if (!typed) {
    throw ComError(static_cast<int32_t>(0x80004002),
                   "Class " + std::string(prog_id) + " does not support the requested interface.",
                   "Rembiz");
  }
  // Ownership moves to the interface the caller asked for (it may be a cross-cast).
  std::unique_ptr<T> owned(typed);
  static_cast<void>(object.release());
  return owned;
}

}  // namespace rembiz::frame
