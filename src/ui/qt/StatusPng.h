#pragma once

#include <string>

#include "ui/StatusView.h"

namespace halvik {

// The status view of `sources` drawn by a fresh view of its own (as RenderStatusImage draws it)
// and encoded as PNG bytes; empty when there is no QGuiApplication to draw with or the encoding
// fails. Callable from any thread: it draws only on its own image.
std::string RenderStatusPng(const StatusSources& sources);

}  // namespace halvik
