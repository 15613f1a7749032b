#pragma once
// Module EXP03600: prints. LoadProc with the parameter "M" writes the entry
// list of the open entry query screen (EXP01800) to a PDF and tells the user
// where it was written; IniProc does the same. See docs/modules.md.

#include <QtGlobal>

namespace core {
class Variant;
} // namespace core

extern "C" {
Q_DECL_EXPORT void IniProc();
Q_DECL_EXPORT void LoadProc(const core::Variant* params);
}
