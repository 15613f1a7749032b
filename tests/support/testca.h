#pragma once
// A throw-away certificate authority for TLS tests, made with the openssl
// command at test time: the authority, and a server certificate it signs for
// the given names (DNS names and IP addresses).

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

namespace testsupport {

struct TestCa {
    QString caFile;       ///< the authority's certificate (PEM)
    QString certFile;     ///< the server's certificate (PEM)
    QString keyFile;      ///< the server's private key (PEM)
    QString combinedFile; ///< certificate then key, as HAProxy reads them
    QString error;        ///< why make() failed

    static bool available() { return !QStandardPaths::findExecutable("openssl").isEmpty(); }

    /// Makes the authority and a certificate for `altNames` ("DNS:localhost",
    /// "IP:127.0.0.1") under `dir`; `tag` keeps two authorities apart.
    bool make(const QString& dir, const QStringList& altNames, const QString& tag = "ca")
    {
        const QString base = QDir(dir).filePath(tag);
        caFile = base + "-ca.pem";
        caKey = base + "-ca.key";
        const QString csr = base + ".csr", ext = base + ".ext";
        certFile = base + "-server.pem";
        keyFile = base + "-server.key";
        combinedFile = base + "-server-combined.pem";
        QFile e(ext);
        if (!e.open(QIODevice::WriteOnly))
            return fail("cannot write " + ext);
        e.write(("subjectAltName=" + altNames.join(',')
                 + "\nbasicConstraints=CA:FALSE\n"
                   "keyUsage=digitalSignature,keyEncipherment\nextendedKeyUsage=serverAuth\n")
                    .toUtf8());
        e.close();
        if (!run({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
                  caKey, "-out", caFile, "-days", "2", "-subj", "/CN=Teste " + tag})
            || !run({"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", keyFile,
                     "-out", csr, "-subj", "/CN=servidor"})
            || !run({"x509", "-req", "-in", csr, "-CA", caFile, "-CAkey", caKey, "-CAcreateserial", "-out", certFile,
                     "-days", "2", "-extfile", ext}))
            return false;
        QFile out(combinedFile), cert(certFile), key(keyFile);
        if (!out.open(QIODevice::WriteOnly) || !cert.open(QIODevice::ReadOnly) || !key.open(QIODevice::ReadOnly))
            return fail("cannot write " + combinedFile);
        out.write(cert.readAll());
        out.write(key.readAll());
        return true;
    }

    /// A client certificate this authority signs, with the serial number
    /// `serialHex`, exported as PKCS#12 under `dir` with a password kept in a
    /// file beside it; both files readable by their owner only.
    bool makeClient(const QString& dir, const QString& name, const QString& serialHex, QString& p12File,
                    QString& passwordFile)
    {
        const QString base = QDir(dir).filePath(name);
        const QString key = base + ".key", csr = base + ".csr", pem = base + ".pem", ext = base + ".ext";
        p12File = base + ".p12";
        passwordFile = base + ".senha";
        QFile e(ext), pw(passwordFile);
        if (!e.open(QIODevice::WriteOnly) || !pw.open(QIODevice::WriteOnly))
            return fail("cannot write " + ext);
        e.write("basicConstraints=CA:FALSE\nkeyUsage=digitalSignature,keyEncipherment\nextendedKeyUsage=clientAuth\n");
        e.close();
        pw.write("senha de teste " + name.toUtf8() + "\n");
        pw.close();
        if (!run({"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", key, "-out",
                  csr, "-subj", "/CN=" + name})
            || !run({"x509", "-req", "-in", csr, "-CA", caFile, "-CAkey", caKey, "-set_serial", "0x" + serialHex,
                     "-out", pem, "-days", "2", "-extfile", ext})
            || !run(
                {"pkcs12", "-export", "-in", pem, "-inkey", key, "-out", p12File, "-passout", "file:" + passwordFile}))
            return false;
        for (const QString& f : {p12File, passwordFile})
            QFile::setPermissions(f, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        return true;
    }

private:
    QString caKey;
    bool fail(const QString& why)
    {
        error = why;
        return false;
    }
    bool run(const QStringList& args)
    {
        QProcess p;
        p.start("openssl", args);
        if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
            return fail("openssl " + args.join(' ') + ": " + QString::fromUtf8(p.readAllStandardError()));
        return true;
    }
};

} // namespace testsupport
