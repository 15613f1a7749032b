#pragma once
// What the NF-e status port needs before it sends anything: the access-key
// checks, the table of authorisers (which web service answers for a state and
// environment, read from a data file), and the server's configuration of the
// port (certificates per company, CA bundle, deadlines, limits). See
// docs/sefaz.md.

#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>

namespace server::sefaz {

/// The IBGE code of a state abbreviation ("SP" -> "35"); empty when unknown.
QString ibgeCode(const QString& state);

/// The modulus-11 check digit of the first 43 digits of an access key.
int accessKeyCheckDigit(const QString& first43);

/// Why `key` cannot be asked about for the state with IBGE code `stateCode`:
/// not 44 digits, a wrong check digit, or a state code other than the
/// state's. Empty when the key is fine.
QString accessKeyProblem(const QString& key, const QString& stateCode);

/// One authoriser's address for the status query.
struct Endpoint {
    QString authoriser; ///< "SP", "SVRS", "SVAN", "SVC-AN", ...
    QString url;        ///< https://host[:port]/path
    QString host, path;
    int port = 443;
};

/// The authoriser table. Its file holds lines (blank lines and text after '#'
/// are ignored):
///   uf <UF> <authoriser> <contingency authoriser>
///   url <authoriser> <1|2> <https URL>
/// where 1 is production and 2 homologation.
class EndpointTable {
public:
    /// Reads the file; throws core::Error naming the line of a bad entry.
    static EndpointTable load(const QString& file);
    static EndpointTable parse(const QString& text, const QString& origin);

    /// The endpoint for a state and environment ("1" or "2"). `contingency`
    /// is "" (the state's own authoriser), "svc" (the state's contingency
    /// authoriser) or an authoriser's name. Throws core::Error with the reason
    /// in Portuguese when there is none.
    Endpoint resolve(const QString& state, const QString& environment, const QString& contingency = {}) const;

    /// Whether the authoriser has an address in either environment.
    bool knows(const QString& authoriser) const
    {
        return urls_.contains(authoriser + "|1") || urls_.contains(authoriser + "|2");
    }

private:
    struct State {
        QString normal, contingency;
    };
    QMap<QString, State> states_;
    QMap<QString, QString> urls_; ///< "<authoriser>|<environment>" -> URL
};

/// A company's A1 certificate: a PKCS#12 file and a file with its password.
struct CompanyCertificate {
    QString pkcs12File, passwordFile;
};

/// The server's configuration of the national port (file format in
/// docs/sefaz.md: "key = value" lines; relative paths are taken from the
/// configuration file's folder).
struct NationalConfig {
    QString endpointsFile;
    QString caBundle;
    QString contingency;                         ///< "", "svc", or an authoriser's name
    QMap<QString, CompanyCertificate> companies; ///< by CDEMPRESA
    int connectTimeoutMs = 5000;
    int answerTimeoutMs = 15000;
    int maxAnswerBytes = 512 * 1024;
    int connectRetries = 2;  ///< further attempts after a failed connection
    int breakerFailures = 3; ///< failures in a row that take an authoriser out
    int breakerSeconds = 30; ///< how long it stays out

    /// Reads the file; throws core::Error naming the line of a bad entry.
    static NationalConfig load(const QString& file);
};

/// Throws core::Error unless `file` is a regular file that neither its group
/// nor others may read or write (a certificate or a password).
void requirePrivateFile(const QString& file, const QString& what);

} // namespace server::sefaz
