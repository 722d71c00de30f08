#include "CadesBuilder.h"
#include "PdfDocumentInfo.h"
#include "PdfSigner.h"
#include "Pkcs12Store.h"
#include "SignerError.h"
#include "support/ProgramRun.h"

#include <QImage>
#include <QRegularExpression>

// Documents made here by qpdf, signed through a PKCS#12 store, judged by poppler's pdfsig and
// pdftoppm and by qpdf's own checks, never by this library.
namespace {

constexpr const char *kMakeSamples = R"(cd "$0" && set -e
openssl req -x509 -nodes -days 2 -subj /CN=CA -newkey rsa:2048 -keyout ca.key -out ca.pem 2>/dev/null
mkdir p12 && for name in alice bob; do
  openssl req -nodes -subj /CN=$name -newkey rsa:2048 -keyout $name.key -out $name.csr 2>/dev/null
  openssl x509 -req -in $name.csr -CA ca.pem -CAkey ca.key -days 2 -out $name.pem 2>/dev/null
  openssl pkcs12 -export -inkey $name.key -in $name.pem -certpbe NONE -passout pass:pw -out p12/$name.p12
done
# n pages; with a text field (form) or an empty signature field (sig) on the first page as $2 says. qpdf writes the offsets.
sample() {
  n=$1; field=$((2*n+3)); kids=""
  [ -n "$2" ] && form="/AcroForm << /Fields [$field 0 R] >>" || form=""
  echo "%PDF-1.7"; echo "1 0 obj << /Type /Catalog /Pages 2 0 R $form >> endobj"
  for i in $(seq 1 $n); do kids="$kids $((2*i+1)) 0 R"; done
  echo "2 0 obj << /Type /Pages /Count $n /Kids [$kids] >> endobj"
  for i in $(seq 1 $n); do
    [ -n "$2" ] && [ $i = 1 ] && annots="/Annots [$field 0 R]" || annots=""
    echo "$((2*i+1)) 0 obj << /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents $((2*i+2)) 0 R $annots >> endobj"
    s="0 0 1 rg 72 700 $((i*5)) 50 re f"; echo "$((2*i+2)) 0 obj << /Length ${#s} >> stream"; echo "$s"; echo endstream endobj
  done
  [ "$2" = form ] && echo "$field 0 obj << /FT /Tx /T (Name) /Type /Annot /Subtype /Widget /Rect [72 600 272 620] /P 3 0 R >> endobj"
  [ "$2" = sig ] && echo "$field 0 obj << /FT /Sig /T (Approval) /Type /Annot /Subtype /Widget /Rect [300 100 520 160] /P 3 0 R >> endobj"
  echo "trailer << /Root 1 0 R /Size $((field+1)) >>"
}
sample 1 >raw1; sample 40 form >raw40; sample 2 sig >rawsig
qpdf raw1 one.pdf || [ $? = 3 ]; qpdf raw40 many.pdf || [ $? = 3 ]; qpdf rawsig field.pdf || [ $? = 3 ]
qpdf --object-streams=generate many.pdf streams.pdf
qpdf --rotate=+90:1 one.pdf turned.pdf
qpdf --encrypt user owner 256 -- one.pdf encrypted.pdf)";

QTemporaryDir g_dir; // the suite's files; the test's thread only

QString path(const QString &name)
{
    return g_dir.filePath(name);
}

// Signs `in` into `out` with the named person's PKCS#12 file, read from the file or from memory.
void signPdf(const QString &in, const QString &out, const char *signer, const PdfSignatureOptions &options,
             bool inMemory = false)
{
    vyr::signer::Pkcs12Store store(path("p12"));
    QList<CertificateEntry> entries = store.list();
    entries.removeIf([&](const CertificateEntry &entry) { return !entry.storeLabel.contains(signer); });
    ASSERT_EQ(entries.size(), 1);
    const std::unique_ptr<SigningKey> key = store.open(entries[0].id);
    ASSERT_EQ(key->login("pw").outcome, LoginResult::Outcome::Ok);
    CadesBuilder builder(*key, {true, false, DigestAlgorithm::Sha256, SignatureAlgorithm::RsaPkcs1v15});
    QFile original(in);
    ASSERT_TRUE(original.open(QIODevice::ReadOnly));
    const PdfDocument document(inMemory ? PdfInput::fromBytes(original.readAll()) : PdfInput::fromFile(in));
    PdfSigner signer(document, options);
    const QByteArray update = signer.sign(builder, key->certificate());
    QFile file(out);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    signer.write(update, file);
}

// pdfsig's report, one entry per signature in the file's order.
QStringList signatureReports(const QString &file)
{
    QStringList reports = runProgram("pdfsig", {file}).output.split(QStringLiteral("Signature #"));
    reports.removeFirst();
    return reports;
}

bool valid(const QString &report, const char *signer, bool whole)
{
    return report.contains("Signature is Valid") && report.contains("ETSI.CAdES.detached") &&
           report.contains(QStringLiteral("Common Name: ") + signer) &&
           report.contains("Total document signed") == whole;
}

// Whether the last signature's CMS, taken from /Contents, verifies with openssl over the bytes
// its /ByteRange names, up to the test authority.
bool lastCmsVerifies(const QString &file)
{
    QFile pdf(file);
    if (!pdf.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = pdf.readAll();
    const qsizetype rangeAt = bytes.lastIndexOf("/ByteRange [") + 12;
    const QList<QByteArray> range =
        bytes.mid(rangeAt, bytes.indexOf(']', rangeAt) - rangeAt).simplified().split(' ');
    const qsizetype contentsAt = bytes.lastIndexOf("/Contents <") + 11;
    const QByteArray cms =
        QByteArray::fromHex(bytes.mid(contentsAt, bytes.indexOf('>', contentsAt) - contentsAt));
    if (range.size() != 4 || cms.size() < 4 || (cms[1] & 0x80) == 0)
        return false;
    qsizetype length = 0; // DER: the placeholder's zeros after the signature are not part of it
    for (int i = 0; i < (cms[1] & 0x7f); ++i)
        length = length * 256 + static_cast<unsigned char>(cms[2 + i]);
    QFile content(path("content.bin")), signature(path("cms.der"));
    if (!content.open(QIODevice::WriteOnly) || !signature.open(QIODevice::WriteOnly))
        return false;
    content.write(bytes.mid(range[0].toLongLong(), range[1].toLongLong()) +
                  bytes.mid(range[2].toLongLong(), range[3].toLongLong()));
    signature.write(cms.left(2 + (cms[1] & 0x7f) + length));
    content.close();
    signature.close();
    return runProgram("openssl",
                      {"cms", "-verify", "-binary", "-inform", "DER", "-in", signature.fileName(), "-content",
                       content.fileName(), "-CAfile", path("ca.pem"), "-purpose", "any", "-out", "/dev/null"})
               .exitCode == 0;
}

class PdfSignTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        ASSERT_EQ(runProgram("sh", {"-c", kMakeSamples, g_dir.path()}).exitCode, 0);
    }
};

struct SignCase
{
    const char *name, *sample;
    int page;
    std::optional<QRectF> rect;
    bool xrefStream, inMemory;
    const char *field = nullptr; // an empty signature field the sample has, which then decides the rect
};

class PdfSignCaseTest : public PdfSignTest, public ::testing::WithParamInterface<SignCase>
{
};

TEST_P(PdfSignCaseTest, Sign_EachForm_PdfsigValidAndQpdfClean)
{
    const SignCase c = GetParam();
    const QString out = path(QStringLiteral("%1.pdf").arg(c.name));
    const SignatureDetails details{{}, QStringLiteral("Approved (final) \\ ü"), QStringLiteral("Zürich"), {}};
    const PdfSignatureOptions options = c.field ? PdfSignatureOptions{1, std::nullopt, details, c.field}
                                                : PdfSignatureOptions{c.page, c.rect, details, {}};
    signPdf(path(c.sample), out, "alice", options, c.inMemory);
    const QStringList reports = signatureReports(out);
    ASSERT_EQ(reports.size(), 1);
    EXPECT_TRUE(valid(reports[0], "alice", true)) << reports[0].toStdString();
    EXPECT_TRUE(lastCmsVerifies(out));
    EXPECT_EQ(runProgram("qpdf", {"--check", out}).exitCode, 0);
    const QString form = runProgram("qpdf", {"--json", "--json-key=acroform", out}).output;
    EXPECT_EQ(form.contains("\"Signature1\""), !c.field);
    EXPECT_EQ(form.contains("\"Name\""),
              QString(c.sample) == "many.pdf" || QString(c.sample) == "streams.pdf");
    QFile file(out);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll().right(300).contains("/XRef"), c.xrefStream);
    if (!c.rect)
        return;
    // At 72 dpi a pixel is a point; the image's rows count from the page's top edge.
    const QRect r = c.rect->toRect();
    const QString png = QStringLiteral(VYR_TEST_OUTPUT_DIR "/%1").arg(c.name);
    ASSERT_TRUE(QDir().mkpath(QStringLiteral(VYR_TEST_OUTPUT_DIR)));
    runProgram("pdftoppm", {"-png", "-singlefile", "-r", "72", "-f", QString::number(c.page), "-x",
                            QString::number(r.x()), "-y", QString::number(842 - r.bottom()), "-W",
                            QString::number(r.width()), "-H", QString::number(r.height()), out, png});
    const QImage image(png + ".png");
    ASSERT_FALSE(image.isNull());
    QImage white = image;
    white.fill(Qt::white);
    EXPECT_NE(image, white);
}

INSTANTIATE_TEST_SUITE_P(
    Samples, PdfSignCaseTest,
    ::testing::Values(
        SignCase{"OnePageInvisibleInMemory", "one.pdf", 1, std::nullopt, false, true},
        SignCase{"FormFieldVisible", "many.pdf", 2, QRectF(300, 100, 220, 60), false, false},
        SignCase{"XrefStreamVisible", "streams.pdf", 40, QRectF(300, 400, 160, 40), true, false},
        SignCase{"EmptyFieldFilled", "field.pdf", 1, QRectF(300, 100, 220, 60), false, false, "Approval"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(PdfSignTest, SignVisible_PageShownTurned_TextReadsUpright)
{
    // Tall on the unturned page, wide as the page is shown.
    signPdf(path("turned.pdf"), path("turned-signed.pdf"), "alice", {1, QRectF(100, 300, 60, 220), {}, {}});
    // poppler gives each word's box as the page is shown: a word read upright is wider than tall.
    const QString words = runProgram("pdftotext", {"-bbox", path("turned-signed.pdf"), "-"}).output;
    const QRegularExpressionMatch word =
        QRegularExpression(R"re(xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">Signed<)re")
            .match(words);
    ASSERT_TRUE(word.hasMatch()) << words.toStdString();
    EXPECT_GT(word.captured(3).toDouble() - word.captured(1).toDouble(),
              word.captured(4).toDouble() - word.captured(2).toDouble());
}

TEST_F(PdfSignTest, SignTwice_BothValid_FirstBrokenByAByteOfItsRevision)
{
    signPdf(path("streams.pdf"), path("once.pdf"), "alice", {});
    signPdf(path("once.pdf"), path("twice.pdf"), "bob", {3, QRectF(100, 100, 200, 50), {}, {}});
    EXPECT_EQ(PdfDocumentInfo::describe(PdfDocument(PdfInput::fromFile(path("twice.pdf")))).signatureCount,
              2);
    QStringList reports = signatureReports(path("twice.pdf"));
    ASSERT_EQ(reports.size(), 2);
    EXPECT_TRUE(valid(reports[0], "alice", false)) << reports[0].toStdString();
    EXPECT_TRUE(valid(reports[1], "bob", true)) << reports[1].toStdString();

    QFile file(path("twice.pdf"));
    ASSERT_TRUE(file.open(QIODevice::ReadWrite) && file.seek(12));
    file.write("x"); // inside the header's comment line, which only the first revision holds
    file.close();
    reports = signatureReports(path("twice.pdf"));
    ASSERT_EQ(reports.size(), 2);
    EXPECT_FALSE(reports[0].contains("Signature is Valid"));
}

// Each way a document can be unusable, refused with BadInput and a reason a person can act on.
struct BadCase
{
    const char *name, *sample;
    std::function<QByteArray(QByteArray)> damage;
    int page;
    const char *reason;
    const char *field = nullptr;
};

class PdfBadInputTest : public PdfSignTest, public ::testing::WithParamInterface<BadCase>
{
};

TEST_P(PdfBadInputTest, Open_BadDocumentOrPage_BadInputWithReason)
{
    const BadCase c = GetParam();
    QFile file(path(c.sample));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    try {
        const PdfDocument document(PdfInput::fromBytes(c.damage(file.readAll())));
        PdfSigner(document, {c.page, std::nullopt, {}, c.field});
        FAIL() << "accepted";
    } catch (const SignerError &error) {
        EXPECT_EQ(error.code(), SignerErrorCode::BadInput);
        EXPECT_TRUE(error.message().contains(c.reason)) << error.message().toStdString();
    }
}

// Object 1's cross-reference entry made to name object 2's place.
QByteArray lyingXref(QByteArray pdf)
{
    const qsizetype entries = pdf.indexOf('\n', pdf.lastIndexOf("\nxref\n") + 6) + 1;
    return pdf.replace(entries + 20, 20, pdf.mid(entries + 40, 20));
}

const auto kSame = [](QByteArray pdf) { return pdf; };

INSTANTIATE_TEST_SUITE_P(
    Documents, PdfBadInputTest,
    ::testing::Values(BadCase{"NotPdf", "one.pdf", [](QByteArray) { return QByteArray("Dear reader,\n"); }, 1,
                              "not a PDF"},
                      BadCase{"Truncated", "one.pdf", [](QByteArray pdf) { return pdf.left(pdf.size() / 2); },
                              1, "damaged"},
                      BadCase{"Encrypted", "encrypted.pdf", kSame, 1, "encrypted"},
                      BadCase{"LyingXref", "one.pdf", lyingXref, 1, "damaged"},
                      BadCase{"PageOutOfRange", "many.pdf", kSame, 41, "no page 41"},
                      BadCase{"FieldNotForSignatures", "many.pdf", kSame, 1, "not a signature field", "Name"},
                      BadCase{"FieldMissing", "one.pdf", kSame, 1, "no field \"Approval\"", "Approval"}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
