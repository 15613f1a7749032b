#pragma once
// Loads modules by code. A module is the shared library PKG_<code> in the
// module folder, exporting two plain C entries:
//   extern "C" void IniProc();                               opens its main screen
//   extern "C" void LoadProc(const core::Variant* params);   opened by another module
// IniProc runs for open(code); LoadProc for LoadBPL(code, params), which
// install() routes through core::context().loadModule. A missing library or
// entry is one clear error (core::Error), nothing else. Libraries stay loaded
// until the process ends (their forms may outlive the call).

#include "core/variant.h"

#include <QString>

namespace host {

class ModuleLoader {
public:
    explicit ModuleLoader(QString folder = {});

    void setFolder(const QString& folder) { folder_ = folder; }
    const QString& folder() const { return folder_; }
    /// Full path of the library of `code` (platform suffix included).
    QString libraryPath(const QString& code) const;

    /// Loads PKG_<code> and calls IniProc; throws core::Error when the
    /// library or the entry is missing. Exceptions of IniProc propagate.
    void open(const QString& code);
    /// Loads PKG_<code> and calls LoadProc(&params).
    void load(const QString& code, const core::Variant& params);

    /// Makes core::LoadBPL use this loader (the loader must outlive it).
    void install();

private:
    void* resolve(const QString& code, const char* entry);
    QString folder_;
};

} // namespace host
