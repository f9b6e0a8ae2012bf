// Function tasks and the write lock, as every class applies for them.
#pragma once

#include <string_view>

#include "host/session.h"
#include "xml/document.h"

namespace rembiz::host {

// Applies for the task; on refusal (or a missing session) loads the refusal's error document into
// `doc` and returns false.
bool ApplyTask(Session* session, std::string_view task_code, xml::Document& doc);
// Releases the task; on failure loads an error document into `doc` and returns false.
bool ReleaseTask(Session* session, std::string_view task_code, xml::Document& doc);
// Raises "Q7.Rembiz.0039" when writing is blocked in the session's account and year.
void CheckHostLock(Session& session);

}  // namespace rembiz::host
