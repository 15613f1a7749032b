#pragma once
// The port to the state authorities' NF-e web services: the status query
// (service NFeConsultaProtocolo4, operation nfeConsultaNF, SOAP 1.2, message
// consSitNFe 4.00) over mutual TLS with the company's A1 certificate. The
// mapping from the answer to SefazAnswer, the configuration and a
// homologation walk-through are in docs/sefaz.md.

#include "sefazconfig.h"
#include "situacao.h"

#include <memory>
#include <string>

namespace server {

/// The SOAP envelope of one status query.
std::string consSitNFeEnvelope(const QString& environment, const QString& accessKey);

/// What a retConsSitNFe answer (the whole SOAP envelope) says, checked
/// against the key and environment asked about.
SefazAnswer readConsSitNFeAnswer(const std::string& body, const QString& environment, const QString& accessKey,
                                 const QString& authoriser);

class NationalSefazPort : public SefazPort {
public:
    /// Loads the endpoint table and every company's certificate; throws
    /// core::Error with the reason when a file is missing, readable by others
    /// or unusable.
    explicit NationalSefazPort(const sefaz::NationalConfig& config);
    ~NationalSefazPort() override;

    SefazAnswer query(Database& db, const SefazQuery& q) override;

    /// The endpoint a query for this state and environment would go to.
    sefaz::Endpoint endpointFor(const QString& state, const QString& environment) const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

/// The port `kind` names: "simulador" (stored answers) or "nacional" (the
/// authorities, configured by the file `configFile`).
std::shared_ptr<SefazPort> makeSefazPort(const QString& kind, const QString& configFile);

} // namespace server
