#pragma once
// Module EXP00106: follow-up of an item cancellation. LoadProc shows the
// document it receives in a window listing its rows; params[0] is the
// address, as an integer, of the client dataset holding the document (a data
// packet is accepted as well). See docs/modules.md.

#include <QtGlobal>

namespace core {
class Variant;
} // namespace core

extern "C" {
Q_DECL_EXPORT void IniProc();
Q_DECL_EXPORT void LoadProc(const core::Variant* params);
}
