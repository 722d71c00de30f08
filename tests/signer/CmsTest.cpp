#include "CadesBuilder.h"
#include "CmsAlgorithms.h"
#include "core/SignerError.h"
#include "support/ProgramRun.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

using namespace vyr::openssl;

// Signatures made here are judged by the openssl command line only, against a test authority
// that the same tool made.
namespace {

QTemporaryDir *g_dir = nullptr; // the suite's files; the test's thread only
QString at(const char *name)
{
    return g_dir->filePath(QString::fromLatin1(name));
}

ProgramRun openssl(const QStringList &arguments)
{
    return runProgram(QStringLiteral("openssl"), arguments);
}

// A key in a PEM file, as a PKCS#12 store would hold it after unlocking.
class FileKey : public SigningKey
{
public:
    FileKey(const char *keyFile, const char *certificateFile)
    {
        const BioPtr keyBio(BIO_new_file(at(keyFile).toLocal8Bit().constData(), "r"));
        m_key.reset(PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr));
        const BioPtr certBio(BIO_new_file(at(certificateFile).toLocal8Bit().constData(), "r"));
        const X509Ptr x509(PEM_read_bio_X509(certBio.get(), nullptr, nullptr, nullptr));
        m_certificate.resize(i2d_X509(x509.get(), nullptr));
        auto *cursor = reinterpret_cast<unsigned char *>(m_certificate.data());
        i2d_X509(x509.get(), &cursor);
    }
    QByteArray certificate() const override { return m_certificate; }
    QList<QByteArray> chain() const override { return {m_certificate}; } // a duplicate to drop
    SecretKind secretKind() const override { return SecretKind::None; }
    LoginResult login(const QByteArray &) override { return {}; }
    QByteArray signDigest(SignatureAlgorithm algorithm, DigestAlgorithm digest,
                          const QByteArray &value) override
    {
        const EvpPkeyCtxPtr context(EVP_PKEY_CTX_new(m_key.get(), nullptr));
        EVP_PKEY_sign_init(context.get());
        EVP_PKEY_CTX_set_signature_md(context.get(), cms::evpDigest(digest));
        if (algorithm == SignatureAlgorithm::RsaPss) {
            EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PSS_PADDING);
            EVP_PKEY_CTX_set_rsa_pss_saltlen(context.get(), static_cast<int>(value.size()));
        }
        size_t length = EVP_PKEY_get_size(m_key.get());
        QByteArray signature(static_cast<qsizetype>(length), Qt::Uninitialized);
        const auto *in = reinterpret_cast<const unsigned char *>(value.constData());
        EVP_PKEY_sign(context.get(), reinterpret_cast<unsigned char *>(signature.data()), &length, in,
                      static_cast<size_t>(value.size()));
        return signature.left(static_cast<qsizetype>(length));
    }

private:
    EvpPkeyPtr m_key;
    QByteArray m_certificate;
};

void writeFile(const char *name, const QByteArray &bytes)
{
    QFile file(at(name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
}

// openssl's exit code for the signature, detached ones over `content`.
int verify(const QByteArray &signature, const QByteArray &content = {})
{
    writeFile("sig.der", signature);
    writeFile("content", content);
    QStringList arguments{"cms",         "-verify", "-binary",    "-inform", "DER",      "-in",
                          at("sig.der"), "-CAfile", at("ca.pem"), "-out",    "/dev/null"};
    if (!content.isEmpty())
        arguments << "-content" << at("content");
    return openssl(arguments).exitCode;
}

const QStringList kAttributes{"1.2.840.113549.1.9.3", "1.2.840.113549.1.9.4", "1.2.840.113549.1.9.16.2.47",
                              "1.2.840.113549.1.9.5"};
// The signed attributes found once each, and whether signing-certificate-v2 holds the
// certificate's own SHA-256 as openssl reports it.
std::pair<QStringList, bool> signedAttributes(const QByteArray &signature, const char *certificate)
{
    writeFile("sig.der", signature);
    const QString printed =
        openssl({"cms", "-cmsout", "-print", "-inform", "DER", "-in", at("sig.der")}).output;
    QStringList found;
    for (const QString &oid : kAttributes)
        found.append(printed.count('(' + oid + ')') == 1 ? oid : QString());
    found.removeAll(QString());
    QString fingerprint =
        openssl({"x509", "-noout", "-fingerprint", "-sha256", "-in", at(certificate)}).output.section('=', 1);
    return {found, printed.contains("[HEX DUMP]:" + fingerprint.remove(':').trimmed())};
}

struct Case
{
    const char *name, *key, *certificate;
    SignatureAlgorithm algorithm;
    DigestAlgorithm digest;
    bool detached;
};

class CmsTest : public ::testing::TestWithParam<Case>
{
protected:
    static void SetUpTestSuite()
    {
        g_dir = new QTemporaryDir;
        const QStringList leaf{"req",
                               "-x509",
                               "-nodes",
                               "-days",
                               "2",
                               "-CA",
                               at("ca.pem"),
                               "-CAkey",
                               at("ca.key"),
                               "-addext",
                               "basicConstraints=CA:FALSE",
                               "-newkey"};
        for (const QStringList &arguments :
             {QStringList{"req", "-x509", "-nodes", "-days", "2", "-subj", "/CN=Test authority", "-newkey",
                          "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-keyout", at("ca.key"), "-out",
                          at("ca.pem")},
              leaf + QStringList{"rsa:2048", "-subj", "/CN=RSA signer", "-keyout", at("rsa.key"), "-out",
                                 at("rsa.pem")},
              leaf + QStringList{"ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-subj", "/CN=EC signer",
                                 "-keyout", at("ec.key"), "-out", at("ec.pem")}})
            ASSERT_EQ(openssl(arguments).exitCode, 0) << arguments.join(' ').toStdString();
    }
    static void TearDownTestSuite() { delete g_dir; }
};

TEST_P(CmsTest, Cades_EachAlgorithmAndForm_VerifiesOnlyOverItsOwnContent)
{
    const Case &c = GetParam();
    FileKey key(c.key, c.certificate);
    CadesBuilder builder(key, {c.detached, true, c.digest, c.algorithm});
    const QByteArray first("first item of the batch"), second("second item");
    const QList<QByteArray> signatures = builder.signEach({first, second});
    ASSERT_EQ(signatures.size(), 2);
    EXPECT_EQ(signedAttributes(signatures[0], c.certificate), std::pair(kAttributes, true));
    if (c.detached) {
        EXPECT_EQ(verify(signatures[1], second), 0);
        EXPECT_NE(verify(signatures[0], second), 0);
    } else {
        EXPECT_EQ(verify(signatures[0]), 0);
        EXPECT_NE(verify(QByteArray(signatures[0]).replace(first, "first item of the batcH")), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Algorithms, CmsTest,
                         ::testing::Values(Case{"RsaDetached", "rsa.key", "rsa.pem",
                                                SignatureAlgorithm::RsaPkcs1v15, DigestAlgorithm::Sha256,
                                                true},
                                           Case{"PssEnveloping", "rsa.key", "rsa.pem",
                                                SignatureAlgorithm::RsaPss, DigestAlgorithm::Sha384, false},
                                           Case{"PssDetached", "rsa.key", "rsa.pem",
                                                SignatureAlgorithm::RsaPss, DigestAlgorithm::Sha256, true},
                                           Case{"EcdsaEnveloping", "ec.key", "ec.pem",
                                                SignatureAlgorithm::Ecdsa, DigestAlgorithm::Sha256, false},
                                           Case{"EcdsaDetached", "ec.key", "ec.pem",
                                                SignatureAlgorithm::Ecdsa, DigestAlgorithm::Sha512, true}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(CmsTest, CadesOverDigest_NoSigningTime_VerifiesAndFitsItsBound)
{
    FileKey key("rsa.key", "rsa.pem");
    CadesBuilder builder(key, {true, false, DigestAlgorithm::Sha256, SignatureAlgorithm::RsaPss});
    const QByteArray content("the byte ranges of a document");
    const QByteArray signature = builder.signContentDigest(cms::digest(DigestAlgorithm::Sha256, content));
    EXPECT_EQ(verify(signature, content), 0);
    EXPECT_EQ(signedAttributes(signature, "rsa.pem"), std::pair(kAttributes.mid(0, 3), true));
    EXPECT_LE(signature.size(), builder.detachedSizeBound());
}

TEST_F(CmsTest, Cades_KeyOrInputNotFitting_ThrowsItsCode)
{
    const auto codeOf = [](const char *keyFile, SignatureAlgorithm algorithm, const QByteArray &digest) {
        try {
            FileKey key(keyFile, "ec.pem");
            CadesBuilder(key, {true, true, DigestAlgorithm::Sha256, algorithm}).signContentDigest(digest);
        } catch (const SignerError &error) {
            return error.code();
        }
        return SignerErrorCode::Cancelled;
    };
    const QByteArray digest(32, 'd');
    EXPECT_EQ(codeOf("ca.key", SignatureAlgorithm::Ecdsa, digest), SignerErrorCode::StoreError);
    EXPECT_EQ(codeOf("ec.key", SignatureAlgorithm::RsaPss, digest), SignerErrorCode::AlgorithmUnsupported);
    EXPECT_EQ(codeOf("ec.key", SignatureAlgorithm::Ecdsa, digest.left(20)), SignerErrorCode::BadInput);
}

} // namespace
