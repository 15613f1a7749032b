#pragma once
// Exported entries of the module PKG_EXP01800. The host loads the library
// and calls IniProc (or criaConsultaLancto, which does the same) to open the
// entry query screen; a second call only brings the screen forward.

#include <QtGlobal>

namespace core {
class Variant;
} // namespace core

extern "C" {
Q_DECL_EXPORT void IniProc();
Q_DECL_EXPORT void criaConsultaLancto();
/// Opened by another module through LoadBPL: opens the screen as IniProc.
Q_DECL_EXPORT void LoadProc(const core::Variant* params);
}
