#include "moduleloader.h"

#include "core/errors.h"
#include "client/hostapi.h"

#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QLibrary>
#include <QRegularExpression>

namespace host {

namespace {
using IniProcFn = void (*)();
using LoadProcFn = void (*)(const core::Variant*);
} // namespace

ModuleLoader::ModuleLoader(QString folder) : folder_(std::move(folder)) { }

QString ModuleLoader::libraryPath(const QString& code) const
{
    const QString base = QStringLiteral("PKG_") + code.trimmed();
    const QString dir = folder_.isEmpty() ? QDir::currentPath() : folder_;
#if defined(Q_OS_WIN)
    return QDir(dir).filePath(base + QStringLiteral(".dll"));
#elif defined(Q_OS_MACOS)
    return QDir(dir).filePath(base + QStringLiteral(".dylib"));
#else
    return QDir(dir).filePath(base + QStringLiteral(".so"));
#endif
}

void* ModuleLoader::resolve(const QString& code, const char* entry)
{
    static const QRegularExpression valid(QStringLiteral("^[A-Za-z0-9_]{1,32}$"));
    if (!valid.match(code.trimmed()).hasMatch())
        throw core::Error(QStringLiteral("Código de módulo inválido: \"%1\".").arg(code));
    const QString path = libraryPath(code);
    if (!QFileInfo::exists(path))
        throw core::Error(QStringLiteral("Módulo %1 não encontrado (%2).").arg(code.trimmed(), path));
    // Code others could have replaced is not run: neither the folder nor the
    // library may be writable by the group or by other users.
    const auto othersWrite = QFile::WriteGroup | QFile::WriteOther;
    for (const QString& p : {QFileInfo(path).absolutePath(), path}) {
        if (QFileInfo(p).permissions() & othersWrite)
            throw core::Error(QStringLiteral("Módulo %1 recusado: %2 pode ser alterado por outros usuários "
                                             "(tire a permissão de escrita do grupo e dos outros).")
                                  .arg(code.trimmed(), p));
    }
    // Kept loaded for the life of the process: the module's forms and
    // singletons may outlive this call.
    QLibrary lib(path);
    lib.setLoadHints(QLibrary::ExportExternalSymbolsHint);
    if (!lib.load())
        throw core::Error(
            QStringLiteral("Não foi possível carregar o módulo %1: %2").arg(code.trimmed(), lib.errorString()),
            QStringLiteral("O módulo %1 não pôde ser aberto: a instalação dele está incompleta ou "
                           "danificada. Avise o suporte.")
                .arg(code.trimmed()));
    QFunctionPointer fn = lib.resolve(entry);
    if (!fn)
        throw core::Error(
            QStringLiteral("O módulo %1 não exporta a entrada %2.").arg(code.trimmed(), QString::fromLatin1(entry)));
    return reinterpret_cast<void*>(fn);
}

void ModuleLoader::open(const QString& code)
{
    auto fn = reinterpret_cast<IniProcFn>(resolve(code, "IniProc"));
    fn();
}

void ModuleLoader::load(const QString& code, const core::Variant& params)
{
    auto fn = reinterpret_cast<LoadProcFn>(resolve(code, "LoadProc"));
    fn(&params);
}

void ModuleLoader::install()
{
    core::context().loadModule = [this](const QString& code, const core::Variant& params) { load(code, params); };
}

} // namespace host
