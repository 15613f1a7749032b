#pragma once
// Scope objects the screen's handlers share: the progress animation and the
// suspended display updates of a dataset's controls. Both are undone however
// the scope ends (a failed call abandons the handler through an exception).

#include <client/clientdataset.h>
#include <client/hostapi.h>
#include <client/interruption.h>

#include <QString>

namespace conlancto {

/// Kinds of the progress animation: waiting for a server, and a cancellation.
constexpr int kAviServidor = 6;
constexpr int kAviCancela = 1;

/// Why the animation of a cancellation offers no way to stop it.
inline const QString kCancelamentoInteiro =
    QStringLiteral("O cancelamento não pode ser interrompido: é uma única transação no servidor.");

/// Shows the progress animation for the scope.
class Animacao {
public:
    explicit Animacao(QObject* owner, int kind = kAviServidor, const QString& caption = {}) : owner_(owner)
    {
        core::ActiveShowAvi(owner_, kind, caption);
    }
    ~Animacao() { core::DeactiveShowAvi(owner_); }
    Animacao(const Animacao&) = delete;
    Animacao& operator=(const Animacao&) = delete;

private:
    QObject* owner_;
};

/// The dataset's controls are disabled (their display updates suspended) for
/// the scope: the grid repaints once at its end.
class ControlesDesligados {
public:
    explicit ControlesDesligados(core::ClientDataset& ds) : ds_(ds) { ds_.disableControls(); }
    ~ControlesDesligados() { ds_.enableControls(); }
    ControlesDesligados(const ControlesDesligados&) = delete;
    ControlesDesligados& operator=(const ControlesDesligados&) = delete;

private:
    core::ClientDataset& ds_;
};

} // namespace conlancto
