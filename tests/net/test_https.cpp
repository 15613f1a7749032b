// Calls over TLS: the transport speaks HTTPS to a host written "https://",
// accepts only a certificate signed by the configured authority for the
// host's own name, and has no way to skip that check.
#include <core/errors.h>
#include <client/httptransport.h>

#include <support/testca.h>

#include <httplib.h>

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <thread>

namespace {

const QString kServer = QStringLiteral("Exp01800.rdmCancelNota");

class Https : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!testsupport::TestCa::available())
            GTEST_SKIP() << "openssl not installed";
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(ca.make(dir.path(), {"DNS:localhost"}, "certo")) << ca.error.toStdString();
        ASSERT_TRUE(other.make(dir.path(), {"DNS:localhost"}, "outro")) << other.error.toStdString();
        svr = std::make_unique<httplib::SSLServer>(ca.certFile.toUtf8().constData(), ca.keyFile.toUtf8().constData());
        ASSERT_TRUE(svr->is_valid());
        svr->set_keep_alive_timeout(1); // stop() waits for kept-alive connections
        svr->Get("/health", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(R"({"status":"ok"})", "application/json");
        });
        svr->Post("/call", [](const httplib::Request& req, httplib::Response& res) {
            res.set_content(req.body.find("\"GetExp\"") != std::string::npos
                                ? R"({"status":"ok","payload":{"int":42},"refs":[]})"
                                : R"({"status":"raised","message":"?"})",
                            "application/json");
        });
        port = svr->bind_to_any_port("127.0.0.1");
        ASSERT_GT(port, 0);
        runner = std::thread([this] { svr->listen_after_bind(); });
        transport.setConnectTimeout(std::chrono::seconds(3));
        transport.setReadTimeout(std::chrono::seconds(5));
    }
    void TearDown() override
    {
        if (svr)
            svr->stop();
        if (runner.joinable())
            runner.join();
    }
    QString failure(const QString& host)
    {
        try {
            transport.connect(host, port, kServer);
        } catch (const core::ConnectionError& e) {
            return e.message();
        }
        return QString();
    }

    QTemporaryDir dir;
    testsupport::TestCa ca, other;
    std::unique_ptr<httplib::SSLServer> svr;
    std::thread runner;
    int port = 0;
    core::HttpTransport transport;
};

} // namespace

TEST_F(Https, CallsGoThroughWithTheAuthorityAndTheNameTheCertificateHolds)
{
    transport.setCaFile(ca.caFile);
    EXPECT_EQ(failure("https://localhost"), "");
    const core::CallResponse r = transport.call("https://localhost/", port, {kServer, "GetExp", {}, {}});
    EXPECT_EQ(r.result.payload.toInt(), 42);
    // Kept alive and reused: the second call goes over the same checked connection.
    EXPECT_EQ(transport.call("https://localhost", port, {kServer, "GetExp", {}, {}}).result.payload.toInt(), 42);
}

TEST_F(Https, AnotherAuthorityOrAnotherNameIsRefused)
{
    transport.setCaFile(other.caFile);
    const QString wrongCa = failure("https://localhost");
    EXPECT_TRUE(wrongCa.contains("certificado")) << wrongCa.toStdString();
    EXPECT_THROW(transport.call("https://localhost", port, {kServer, "GetExp", {}, {}}), core::ConnectionError);

    transport.setCaFile(ca.caFile);
    const QString wrongName = failure("https://127.0.0.1"); // the certificate names localhost only
    EXPECT_TRUE(wrongName.contains("certificado")) << wrongName.toStdString();

    transport.setCaFile(QString()); // the system's authorities do not know the test authority
    EXPECT_FALSE(failure("https://localhost").isEmpty());
    // Plain HTTP to a TLS port gets no answer it could take for one.
    EXPECT_FALSE(failure("localhost").isEmpty());
}
