#pragma once
// The NF-e situation server "DFS52000.rdmSituacao": asks the tax authority
// for an invoice's status through a port, and stores a new status.

#include "registry.h"

#include <memory>

namespace server {

inline const QString kSituacaoServer = QStringLiteral("DFS52000.rdmSituacao");

/// What the NF-e status query sends to the authority.
struct SefazQuery {
    QString environment, certificateSerial, accessKey, state, company, stateCode, emissionType, stateRegistration;
};

/// The authority's answer: a status code, or a message (whose first three
/// characters are the authority's code when it has one).
struct SefazAnswer {
    bool answered = false;
    int code = 0;
    QString message;
};

/// The way to the tax authority. Implementations may be called from several
/// worker threads at once.
class SefazPort {
public:
    virtual ~SefazPort() = default;
    virtual SefazAnswer query(Database& db, const SefazQuery& q) = 0;
};

/// The default port: answers from stored answers per access key (table
/// SITUACAONFE: a code, or a message); a key without a stored answer gets the
/// authority's "217" answer for an unknown key.
class StoredAnswerSimulator : public SefazPort {
public:
    SefazAnswer query(Database& db, const SefazQuery& q) override;
};

/// The NF-e status an authority code gives: 100 and 150 "A" (use
/// authorised), 110, 301 and 302 "D" (use denied), any other "X".
QString statusForCode(int code);

void registerSituacao(Registry& r, std::shared_ptr<SefazPort> port);

} // namespace server
