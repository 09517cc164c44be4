#pragma once

#include <QApplication>

namespace halvik {

// The one QApplication of the test program, made on first use on the offscreen platform (no
// display needed, nothing ever waits for a person).
QApplication& TestApplication();

}  // namespace halvik
