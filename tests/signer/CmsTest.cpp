#include "CadesBuilder.h"
#include "core/SignatureAlgorithms.h"
#include "core/SignerError.h"
#include "support/ProgramRun.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

// Signatures made here are judged by the openssl command line only, against a test authority
// that the same tool made: an EC P-256 authority, an RSA-2048 signer and an EC P-256 signer.
namespace {

using S = SignatureAlgorithm;
using D = DigestAlgorithm;

constexpr const char *kMakeAuthority = R"(cd "$0" && set -e
openssl req -x509 -nodes -days 2 -subj /CN=CA -newkey ec -pkeyopt ec_paramgen_curve:P-256 -keyout ca.key -out ca.pem
for spec in "rsa rsa:2048" "ec ec -pkeyopt ec_paramgen_curve:P-256"; do
  set -- $spec && name=$1 && shift
  openssl req -x509 -nodes -days 2 -subj /CN=$name -CA ca.pem -CAkey ca.key -addext basicConstraints=CA:FALSE \
    -keyout $name.pem -outform DER -out $name.der -newkey "$@"
  openssl x509 -inform DER -in $name.der -noout -fingerprint -sha256 | cut -d= -f2 | tr -d ':\n' >$name.sha256
done)";

QTemporaryDir g_dir; // the suite's files; the test's thread only
QByteArray readFile(const QString &name)
{
    QFile file(g_dir.filePath(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
void writeFile(const QString &name, const QByteArray &bytes)
{
    QFile file(g_dir.filePath(name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
}
ProgramRun openssl(const QString &command)
{
    return runProgram(QStringLiteral("sh"), {"-c", "cd \"$0\" && openssl " + command, g_dir.path()});
}

// A private key in a file, signing through the openssl command line as a token signs: only
// the digest goes in.
class FileKey : public SigningKey
{
public:
    FileKey(const QString &key, const QString &certificate) : m_key(key), m_certificate(certificate) {}
    QByteArray certificate() const override { return readFile(m_certificate + ".der"); }
    QList<QByteArray> chain() const override { return {certificate()}; } // a duplicate to drop
    SecretKind secretKind() const override { return SecretKind::None; }
    LoginResult login(const QByteArray &) override { return {}; }
    QByteArray signDigest(S algorithm, D digest, const QByteArray &value) override
    {
        writeFile("digest", value);
        const QString padding =
            algorithm == S::RsaPss ? " -pkeyopt rsa_padding_mode:pss -pkeyopt rsa_pss_saltlen:digest" : "";
        openssl("pkeyutl -sign -in digest -out signed -inkey " + m_key + ".pem -pkeyopt digest:sha" +
                QString::number(std::array{256, 384, 512}[static_cast<int>(digest)]) + padding);
        return readFile("signed");
    }

private:
    QString m_key, m_certificate;
};

// Whether openssl accepts the signature, a detached one over `content`.
bool verifies(const QByteArray &signature, const QByteArray &content = {})
{
    writeFile("sig", signature);
    writeFile("content", content);
    const QString detached = content.isEmpty() ? "" : " -content content";
    return openssl("cms -verify -binary -inform DER -in sig -CAfile ca.pem -out /dev/null" + detached)
               .exitCode == 0;
}

const QStringList kAttributes{"1.2.840.113549.1.9.3", "1.2.840.113549.1.9.4", "1.2.840.113549.1.9.16.2.47",
                              "1.2.840.113549.1.9.5"};
// The signed attributes found once each, and whether signing-certificate-v2 holds the
// certificate's SHA-256 as openssl computes it.
std::pair<QStringList, bool> signedAttributes(const QByteArray &signature, const QString &certificate)
{
    writeFile("sig", signature);
    const QString printed = openssl("cms -cmsout -print -inform DER -in sig").output;
    QStringList found = kAttributes;
    found.removeIf([&](const QString &oid) { return printed.count('(' + oid + ')') != 1; });
    return {found, printed.contains("[HEX DUMP]:" + readFile(certificate + ".sha256"))};
}

// name, key, algorithm, digest, detached
using Case = std::tuple<const char *, const char *, S, D, bool>;

class CmsTest : public ::testing::TestWithParam<Case>
{
protected:
    static void SetUpTestSuite()
    {
        ASSERT_EQ(runProgram("sh", {"-c", kMakeAuthority, g_dir.path()}).exitCode, 0);
    }
};

TEST_P(CmsTest, Cades_EachAlgorithmAndForm_VerifiesOnlyOverItsOwnContent)
{
    const auto [name, keyName, algorithm, digest, detached] = GetParam();
    FileKey key(keyName, keyName);
    const QByteArray first("first item of the batch"), second("second item");
    const QList<QByteArray> signatures =
        CadesBuilder(key, {detached, true, digest, algorithm}).signEach({first, second});
    ASSERT_EQ(signatures.size(), 2);
    EXPECT_EQ(signedAttributes(signatures[0], keyName), std::pair(kAttributes, true));
    EXPECT_TRUE(verifies(signatures[1], detached ? second : QByteArray()));
    EXPECT_FALSE(detached ? verifies(signatures[0], second)
                          : verifies(QByteArray(signatures[0]).replace(first, "first item of the batcH")));
}

INSTANTIATE_TEST_SUITE_P(Algorithms, CmsTest,
                         ::testing::Values(Case("RsaDetached", "rsa", S::RsaPkcs1v15, D::Sha256, true),
                                           Case("PssEnveloping", "rsa", S::RsaPss, D::Sha384, false),
                                           Case("EcdsaEnveloping", "ec", S::Ecdsa, D::Sha256, false),
                                           Case("EcdsaDetached", "ec", S::Ecdsa, D::Sha512, true)),
                         [](const auto &info) { return std::string(std::get<0>(info.param)); });

TEST_F(CmsTest, CadesOverDigest_NoSigningTime_VerifiesAndFitsItsBound)
{
    FileKey key("rsa", "rsa");
    CadesBuilder builder(key, {true, false, D::Sha256, S::RsaPss});
    const QByteArray content("the byte ranges of a document");
    const QByteArray signature = builder.signContentDigest(vyr::signer::computeDigest(D::Sha256, content));
    EXPECT_TRUE(verifies(signature, content));
    EXPECT_EQ(signedAttributes(signature, "rsa"), std::pair(kAttributes.mid(0, 3), true));
    EXPECT_LE(signature.size(), builder.detachedSizeBound());
}

TEST_F(CmsTest, Cades_KeyOrInputNotFitting_ThrowsItsCode)
{
    const auto codeOf = [](const char *keyFile, S algorithm, int digestLength) {
        FileKey key(keyFile, "ec");
        try {
            CadesBuilder(key, {true, true, D::Sha256, algorithm})
                .signContentDigest(QByteArray(digestLength, 'd'));
        } catch (const SignerError &error) {
            return error.code();
        }
        return SignerErrorCode::Cancelled;
    };
    EXPECT_EQ(codeOf("rsa", S::Ecdsa, 32), SignerErrorCode::StoreError); // not the certificate's key
    EXPECT_EQ(codeOf("ec", S::RsaPss, 32), SignerErrorCode::AlgorithmUnsupported);
    EXPECT_EQ(codeOf("ec", S::Ecdsa, 20), SignerErrorCode::BadInput);
}

} // namespace
