#include "CertificateListing.h"
#include "KeyStores.h"
#include "SignRequest.h"
#include "SignatureAlgorithms.h"
#include "SignerError.h"
#include "support/ProgramRun.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace vyr::signer;

namespace {

QStringList g_logged; // every Qt message of the test, to prove no secret reaches a log

void keepMessage(QtMsgType, const QMessageLogContext &, const QString &message)
{
    g_logged.append(message);
}

// The keys and certificates from a test authority (made once), and per test a fresh SoftHSM
// token holding the RSA and EC keys, a PKCS#12 directory and the two settings files.
class SignerKeysTest : public ::testing::Test
{
protected:
    static inline QTemporaryDir *keys = nullptr;

    static void shell(const QString &script)
    {
        const ProgramRun run = runProgram(QStringLiteral("sh"), {QStringLiteral("-ec"), script});
        ASSERT_EQ(run.exitCode, 0) << run.output.toStdString();
    }
    static void SetUpTestSuite()
    {
        keys = new QTemporaryDir;
        shell(
            QStringLiteral(
                "cd %1\n"
                "openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -subj '/CN=Test "
                "Authority' -days 30 2>/dev/null\n"
                "openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out rsa.key\n"
                "openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out ec.key\n"
                "echo keyUsage=critical,digitalSignature,nonRepudiation > ext\n"
                "for k in rsa ec; do openssl req -new -key $k.key -subj /CN=$k -out $k.csr\n"
                "  openssl x509 -req -in $k.csr -CA ca.pem -CAkey ca.key -days 30 -extfile ext -out $k.pem\n"
                "  openssl x509 -in $k.pem -outform DER -out $k.der; openssl x509 -in $k.pem -pubkey "
                "-noout > $k.pub; done 2>/dev/null\n"
                "openssl pkcs12 -export -inkey rsa.key -in rsa.pem -certfile ca.pem -certpbe NONE "
                "-passout pass:filepass -out file.p12\n"
                "openssl pkcs12 -export -nokeys -in ec.pem -certpbe NONE -passout pass:x -out nokey.p12\n"
                "head -c 300 file.p12 > corrupt.p12\n"
                "mkdir nssdb; certutil -N -d sql:nssdb --empty-password\n"
                "pk12util -i file.p12 -d sql:nssdb -W filepass >/dev/null")
                .arg(keys->path()));
    }
    static void TearDownTestSuite() { delete keys; }

    void SetUp() override
    {
        ASSERT_TRUE(keys->isValid());
        qputenv("SOFTHSM2_CONF", dir.filePath(QStringLiteral("softhsm2.conf")).toUtf8());
        const QString tool =
            QStringLiteral("pkcs11-tool --module " VYR_SOFTHSM2_LIBRARY " --login --pin 1234 ");
        shell(QStringLiteral(
                  "cd %1; mkdir tokens p12; cp %2/*.p12 p12/\n"
                  "printf 'directories.tokendir = %1/tokens\\nlog.level = ERROR\\n' > softhsm2.conf\n"
                  "softhsm2-util --init-token --free --label 'Test Token' --pin 1234 --so-pin 5678\n"
                  "for k in 1:rsa 2:ec; do %3 --write-object %2/${k#*:}.key --type privkey --id 0${k%:*}\n"
                  "  %3 --write-object %2/${k#*:}.der --type cert --id 0${k%:*}; done >/dev/null\n"
                  "printf '[pkcs11]\\nlibraries=/nowhere.so\\n' > system.ini\n"
                  "printf '[pkcs11]\\nuseProxy=false\\nlibraries=%4, %2/ca.pem\\n"
                  "[pkcs12]\\ndirectory=%1/p12\\n[nss]\\ndatabase=sql:%2/nssdb\\n' > user.ini")
                  .arg(dir.path(), keys->path(), tool, QStringLiteral(VYR_SOFTHSM2_LIBRARY)));
        stores = std::make_unique<KeyStores>(SignerSettings::load(dir.filePath(QStringLiteral("system.ini")),
                                                                  dir.filePath(QStringLiteral("user.ini"))));
        entries = stores->list();
    }

    QByteArray idOf(const QString &store, const QString &keyType) const
    {
        for (const CertificateEntry &entry : entries)
            if (entry.storeLabel == store && CertificateInfo::fromDer(entry.certificate)->keyType == keyType)
                return entry.id;
        return {};
    }
    QString file(const QString &name) const { return keys->filePath(name); }

    QTemporaryDir dir;
    std::unique_ptr<KeyStores> stores;
    QList<CertificateEntry> entries;
};

struct SignCase
{
    const char *store, *keyType, *secret, *algorithm, *digest, *verifyOptions;
    int items;
};

class SignatureTest : public SignerKeysTest, public ::testing::WithParamInterface<SignCase>
{
};

// Each signature, single or batch, passes openssl's own verification over the data.
TEST_P(SignatureTest, Sign_EachAlgorithmAndStore_OpensslVerifiesEveryItem)
{
    const SignCase c = GetParam();
    tRequestMap request{{"id", idOf(QLatin1String(c.store), QLatin1String(c.keyType))},
                        {"algorithm", c.algorithm},
                        {"digestAlgorithm", c.digest}};
    for (int i = 0; i < c.items; ++i)
        request.insert("data", QByteArray("item ").append(QByteArray::number(i)).toBase64());
    const SignRequest parsed = parseSignRequest(request, SignRequest::Form::Raw);
    const std::unique_ptr<SigningKey> key = stores->open(parsed.id);
    ASSERT_EQ(key->login(c.secret).outcome, LoginResult::Outcome::Ok);
    const QList<QByteArray> signatures = signDigests(*key, parsed);
    ASSERT_EQ(signatures.size(), c.items);
    for (int i = 0; i < c.items; ++i) {
        QFile data(dir.filePath(QStringLiteral("data"))),
            signature(dir.filePath(QStringLiteral("signature")));
        ASSERT_TRUE(data.open(QIODevice::WriteOnly) && signature.open(QIODevice::WriteOnly));
        data.write("item " + QByteArray::number(i));
        signature.write(signatures[i]);
        data.close();
        signature.close();
        shell(QStringLiteral("openssl dgst -%1 -verify %2 -signature %3 %4 %5")
                  .arg(QString::fromLatin1(c.digest).remove(u'-').toLower(),
                       file(QString::fromLatin1(c.keyType).toLower() + QStringLiteral(".pub")),
                       signature.fileName(), QLatin1String(c.verifyOptions), data.fileName()));
    }
}

const char kPss[] = "-sigopt rsa_padding_mode:pss -sigopt rsa_pss_saltlen:digest";
INSTANTIATE_TEST_SUITE_P(
    Stores, SignatureTest,
    ::testing::Values(SignCase{"Test Token", "RSA", "1234", "RSA-PKCS1", "SHA-256", "", 1},
                      SignCase{"Test Token", "RSA", "1234", "RSA-PSS", "SHA-384", kPss, 1},
                      SignCase{"Test Token", "EC", "1234", "ECDSA", "SHA-256", "", 3},
                      SignCase{"file.p12", "RSA", "filepass", "RSA-PKCS1", "SHA-512", "", 1},
                      SignCase{"file.p12", "RSA", "filepass", "RSA-PSS", "SHA-256", kPss, 3},
                      // more than one thread's share: split over the cores, answered in order
                      SignCase{"file.p12", "RSA", "filepass", "RSA-PKCS1", "SHA-256", "", 40},
                      SignCase{"NSS Certificate DB", "RSA", "", "RSA-PSS", "SHA-512", kPss, 1}));

// A wrong secret is reported and the right one still works; a locked token is never tried.
TEST_F(SignerKeysTest, Login_WrongThenRightSecretOrLockedToken_ReportedWithoutLoggingSecrets)
{
    const QtMessageHandler previous = qInstallMessageHandler(keepMessage);
    for (const auto &[store, secret] : {std::pair{"Test Token", "1234"}, std::pair{"file.p12", "filepass"}}) {
        const std::unique_ptr<SigningKey> key =
            stores->open(idOf(QLatin1String(store), QStringLiteral("RSA")));
        EXPECT_EQ(key->login("wrong-secret").outcome, LoginResult::Outcome::Incorrect) << store;
        EXPECT_EQ(key->login(secret).outcome, LoginResult::Outcome::Ok) << store;
    }
    SignerSettings lockedSettings{false, {QStringLiteral(VYR_LOCKED_TOKEN)}, dir.path(), {}, {}};
    KeyStores lockedStores(lockedSettings);
    const QList<CertificateEntry> lockedEntries = lockedStores.list();
    ASSERT_EQ(lockedEntries.size(), 2);
    const LoginResult result = lockedStores.open(lockedEntries.first().id)->login("1234");
    EXPECT_EQ(result.outcome, LoginResult::Outcome::Locked);
    EXPECT_EQ(result.triesLeft, 0);
    qInstallMessageHandler(previous);
    for (const QString &line : g_logged)
        EXPECT_FALSE(line.contains(QLatin1String("1234")) || line.contains(QLatin1String("secret")))
            << line.toStdString();
}

// Broken stores are skipped without harm to the others; every later failure has its code.
TEST_F(SignerKeysTest, Stores_BrokenOrRemoved_SkippedInListingAndCodedWhenOpened)
{
    // Two token keys, the file and the browser database; corrupt.p12, nokey.p12 and ca.pem as a
    // library are skipped.
    ASSERT_EQ(entries.size(), 4);
    const auto ids = [](const QList<CertificateEntry> &list) {
        QStringList all;
        for (const CertificateEntry &entry : list)
            all.append(QString::fromLatin1(entry.id));
        all.sort();
        return all;
    };
    EXPECT_EQ(ids(KeyStores(SignerSettings::load({}, dir.filePath(QStringLiteral("user.ini")))).list()),
              ids(entries)); // the same ids again
    const CertificateFilter filter{
        {QStringLiteral("nonRepudiation")}, QStringLiteral("test authority"), true};
    const QJsonArray listing = QJsonDocument::fromJson(certificateListJson(entries, filter)).array();
    ASSERT_EQ(listing.size(), 4);
    int bits = 0;
    for (const QJsonValue &certificate : listing)
        bits += certificate[QStringLiteral("keySize")].toInt();
    EXPECT_EQ(bits, 3 * 2048 + 256);
    EXPECT_TRUE(QJsonDocument::fromJson(certificateListJson(entries, {{}, QStringLiteral("nobody"), false}))
                    .array()
                    .isEmpty());

    const auto codeOf = [this](const QByteArray &id, const char *algorithm) {
        try {
            const std::unique_ptr<SigningKey> key = stores->open(id);
            key->login(key->secretKind() == SigningKey::SecretKind::Pin ? "1234" : "filepass");
            key->signDigest(*signatureFromName(algorithm), DigestAlgorithm::Sha256, QByteArray(32, 'x'));
        } catch (const SignerError &error) {
            return error.code();
        }
        return SignerErrorCode::Cancelled; // no error at all
    };
    EXPECT_EQ(codeOf(idOf(QStringLiteral("Test Token"), QStringLiteral("RSA")), "ECDSA"),
              SignerErrorCode::AlgorithmUnsupported);
    EXPECT_EQ(codeOf(idOf(QStringLiteral("file.p12"), QStringLiteral("RSA")), "ECDSA"),
              SignerErrorCode::AlgorithmUnsupported);
    shell(QStringLiteral("cp %1 %2/p12/file.p12").arg(file(QStringLiteral("corrupt.p12")), dir.path()));
    EXPECT_EQ(codeOf(idOf(QStringLiteral("file.p12"), QStringLiteral("RSA")), "RSA-PKCS1"),
              SignerErrorCode::StoreError);
    shell(QStringLiteral("softhsm2-util --delete-token --token 'Test Token'"));
    EXPECT_EQ(codeOf(idOf(QStringLiteral("Test Token"), QStringLiteral("EC")), "ECDSA"),
              SignerErrorCode::TokenAbsent);
}

} // namespace
