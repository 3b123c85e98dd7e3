#include "signature/signature_verifier.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "signature/minisign_error.h"
#include "signature_vectors.h"

namespace kestrova {
namespace {

using test::Bytes;
using test::FromBase64;
using test::JoinLines;
using test::ReadVector;
using test::SplitLines;
using test::ToBase64;

const std::string kUnreadable = "подпись не читается";
const std::string kMismatch = "подпись установщика не сошлась, файл испорчен или подменен";
const std::string kWrongKey =
    "The signature was created with a different key than the one provided";
const std::string kLegacy = "StreamVerifier only supports non-legacy mode signatures";
const std::string kInvalidEncoding = "Invalid encoding in minisign data";
const std::string kUnsupported = "This signature algorithm is not supported by this implementation";

std::string ProductKey() { return ToBase64(ReadVector("product.pub")); }

// The verdict for the data fed in the given chunk sizes (the rest in one chunk).
std::string Verdict(std::string_view signatureText, std::string_view data,
                    std::string_view keyBase64, const std::vector<std::size_t>& chunkSizes = {}) {
  auto verifier = SignatureVerifier::Create(signatureText, keyBase64);
  if (!verifier.ok()) {
    return verifier.failure().text;
  }
  std::size_t offset = 0;
  for (std::size_t size : chunkSizes) {
    size = std::min(size, data.size() - offset);
    verifier.value().Update(Bytes(data.substr(offset, size)));
    offset += size;
  }
  verifier.value().Update(Bytes(data.substr(offset)));
  const Status status = std::move(verifier.value()).Finish();
  return status ? status->text : "verified";
}

// A signature file with one of its four lines replaced.
std::string WithLine(const std::string& file, std::size_t index, const std::string& line) {
  auto lines = SplitLines(file);
  lines.at(index) = line;
  return JoinLines(lines);
}

std::string FlipByte(std::string data, std::size_t index) {
  data.at(index) = static_cast<char>(data.at(index) ^ 0x01);
  return data;
}

// The signature line (line 2) with one of its 74 decoded bytes flipped.
std::string FlipSignatureByte(const std::string& file, std::size_t index) {
  return WithLine(file, 1, ToBase64(FlipByte(FromBase64(SplitLines(file).at(1)), index)));
}

// The signature line (line 2) with one of its 74 decoded bytes changed.
std::string WithSignatureByte(const std::string& file, std::size_t index, char value) {
  std::string bytes = FromBase64(SplitLines(file).at(1));
  bytes.at(index) = value;
  return WithLine(file, 1, ToBase64(bytes));
}

struct VerdictCase {
  const char* name;
  std::function<std::string()> signatureText;  // as the channel gives it: Base64
  std::function<std::string()> data;
  std::string expected;
};

TEST(SignatureVerifier, VerdictsOnSignaturesOfTheMinisignTool) {
  const std::string signature = ReadVector("data.minisig");
  const std::string data = ReadVector("data.bin");
  const std::string emptySignature = ReadVector("empty.minisig");
  const auto fileData = [&] { return data; };
  const auto b64 = [](std::string text) { return [text] { return ToBase64(text); }; };
  const auto raw = [](std::string text) { return [text] { return text; }; };
  const std::string encoded = ToBase64(signature);
  ASSERT_TRUE(encoded.ends_with("=") && !encoded.ends_with("==")) << encoded;

  const VerdictCase cases[] = {
      {"prehashed signature", b64(signature), fileData, "verified"},
      {"empty file", b64(emptySignature), [] { return std::string(); }, "verified"},
      {"CRLF line ends", b64(JoinLines(SplitLines(signature), "\r\n")), fileData, "verified"},
      {"further lines ignored", b64(signature + "fifth line\nnot Base64 at all!\n"), fileData,
       "verified"},
      {"CRLF and further lines", b64(JoinLines(SplitLines(signature + "x\r\n\r\n"), "\r\n")),
       fileData, "verified"},
      {"no final line feed", b64(signature.substr(0, signature.size() - 1)), fileData, "verified"},
      {"Base64 wrapped in spaces and line breaks", raw(" \r\n\t" + encoded + "\r\n  \n"), fileData,
       "verified"},
      {"Base64 wrapped in Unicode spaces", raw("\xE3\x80\x80\xC2\xA0" + encoded + "\xE2\x80\xA8"),
       fileData, "verified"},
      {"legacy signature", b64(ReadVector("data.legacy.minisig")), fileData, kLegacy},
      {"another key's signature", b64(ReadVector("data.other.minisig")), fileData, kWrongKey},
      {"key id changed", b64(FlipSignatureByte(signature, 2)), fileData, kWrongKey},
      {"edited trusted comment",
       b64(WithLine(signature, 2, SplitLines(signature)[2] + " (edited)")), fileData, kMismatch},
      {"one altered byte at the start", b64(signature), [&] { return FlipByte(data, 0); },
       kMismatch},
      {"one altered byte at the end", b64(signature),
       [&] { return FlipByte(data, data.size() - 1); }, kMismatch},
      {"one byte missing", b64(signature), [&] { return data.substr(1); }, kMismatch},
      {"one byte more", b64(signature), [&] { return data + "x"; }, kMismatch},
      {"nothing received", b64(signature), [] { return std::string(); }, kMismatch},
      {"empty file's signature on data", b64(emptySignature), fileData, kMismatch},
      {"Ed25519 signature altered", b64(FlipSignatureByte(signature, 40)), fileData, kMismatch},
      {"global signature altered",
       b64(WithLine(signature, 3, ToBase64(FlipByte(FromBase64(SplitLines(signature)[3]), 5)))),
       fileData, kMismatch},
      {"Base64 split across lines", raw(encoded.substr(0, 76) + "\n" + encoded.substr(76)),
       fileData, kUnreadable},
      {"Base64 with an inner space", raw(encoded.substr(0, 8) + " " + encoded.substr(8)), fileData,
       kUnreadable},
      {"Base64 without its padding", raw(encoded.substr(0, encoded.size() - 1)), fileData,
       kUnreadable},
      {"Base64 with set trailing bits",
       [&] {
         std::string text = encoded;
         char& last = text[text.size() - 2];  // before the "=": 2 bits past the last byte
         last = last == 'A' ? 'B' : static_cast<char>(last ^ 0x01);
         return text;
       },
       fileData, kUnreadable},
      {"empty signature text", raw(""), fileData, kUnreadable},
      {"only whitespace", raw(" \n\t "), fileData, kUnreadable},
      {"decoded text not UTF-8", b64("\xFF" + signature), fileData, kUnreadable},
      {"third line without the space",
       b64(WithLine(signature, 2, "trusted comment:" + SplitLines(signature)[2].substr(17))),
       fileData, kUnreadable},
      {"third line missing its prefix", b64(WithLine(signature, 2, "Kestrova AI")), fileData,
       kUnreadable},
      {"three lines only",
       b64(JoinLines(
           {SplitLines(signature)[0], SplitLines(signature)[1], SplitLines(signature)[2]})),
       fileData, kUnreadable},
      {"signature line with a trailing space",
       b64(WithLine(signature, 1, SplitLines(signature)[1] + " ")), fileData, kUnreadable},
      {"signature line of 73 bytes",
       b64(WithLine(signature, 1, ToBase64(FromBase64(SplitLines(signature)[1]).substr(1)))),
       fileData, kUnreadable},
      {"global signature of 63 bytes",
       b64(WithLine(signature, 3, ToBase64(FromBase64(SplitLines(signature)[3]).substr(1)))),
       fileData, kUnreadable},
      {"unknown signature algorithm", b64(WithSignatureByte(signature, 1, 'x')), fileData,
       kUnreadable},
      {"lower-case e in the algorithm", b64(WithSignatureByte(signature, 0, 'e')), fileData,
       kUnreadable},
      {"bare carriage returns", b64(JoinLines(SplitLines(signature), "\r")), fileData, kUnreadable},
  };
  const std::string key = ProductKey();
  for (const auto& c : cases) {
    EXPECT_EQ(Verdict(c.signatureText(), c.data(), key), c.expected) << c.name;
  }
}

TEST(SignatureVerifier, SameVerdictWhateverTheChunkSizes) {
  const std::string signatureText = ToBase64(ReadVector("data.minisig"));
  const std::string data = ReadVector("data.bin");
  const std::string altered = FlipByte(data, data.size() / 2);
  const std::string key = ProductKey();
  std::mt19937 random(20240601);
  for (int round = 0; round < 20; ++round) {
    // Mostly small chunks, some empty ones and some larger than a hash block.
    std::uniform_int_distribution<std::size_t> size(0, round % 2 == 0 ? 300 : 70000);
    std::vector<std::size_t> chunks;
    for (std::size_t total = 0; total < data.size();) {
      chunks.push_back(size(random));
      total += chunks.back();
    }
    EXPECT_EQ(Verdict(signatureText, data, key, chunks), "verified") << "round " << round;
    EXPECT_EQ(Verdict(signatureText, altered, key, chunks), kMismatch) << "round " << round;
  }
  EXPECT_EQ(Verdict(signatureText, data, key, std::vector<std::size_t>(data.size(), 1)),
            "verified");
}

TEST(SignatureVerifier, MovedVerifierKeepsItsState) {
  const std::string data = ReadVector("data.bin");
  auto created = SignatureVerifier::Create(ToBase64(ReadVector("data.minisig")), ProductKey());
  ASSERT_TRUE(created.ok());
  created.value().Update(Bytes(std::string_view(data).substr(0, 1000)));
  SignatureVerifier moved = std::move(created.value());
  moved.Update(Bytes(std::string_view(data).substr(1000)));
  EXPECT_EQ(std::move(moved).Finish(), kSuccess);
}

// A public-key file with the given key-line bytes, as Base64 of its text.
std::string KeyWithBytes(const std::string& keyBytes, std::string_view end = "\n") {
  return ToBase64("untrusted comment: minisign public key\n" + std::string(ToBase64(keyBytes)) +
                  std::string(end));
}

std::string ProductKeyBytes() { return FromBase64(SplitLines(ReadVector("product.pub")).at(1)); }

TEST(SignatureVerifier, BuiltInKeyIsDecodedFirstAndReportedAsTheLibraryDescribesIt) {
  const std::string good = ToBase64(ReadVector("data.minisig"));
  const std::string legacy = ToBase64(ReadVector("data.legacy.minisig"));
  const std::string other = ToBase64(ReadVector("data.other.minisig"));
  const std::string data = ReadVector("data.bin");
  std::string otherAlgorithm = ProductKeyBytes();
  otherAlgorithm[0] = 'X';
  std::string upperAlgorithm = ProductKeyBytes();
  upperAlgorithm[1] = 'D';
  std::string unknownSecond = ProductKeyBytes();
  unknownSecond[1] = 'x';
  const std::string product = ProductKey();

  struct KeyCase {
    const char* name;
    std::string key;
    std::string signature;
    std::string expected;
  };
  const KeyCase cases[] = {
      {"broken key Base64, good signature", "not Base64!", good, kUnreadable},
      {"broken key Base64, broken signature", "not Base64!", "", kUnreadable},
      {"key Base64 unpadded", product.substr(0, product.size() - 1), good, kUnreadable},
      {"key text not UTF-8", ToBase64("\xC0\x80" + ReadVector("product.pub")), good, kUnreadable},
      {"key text of one line, broken signature", ToBase64("untrusted comment: x\n"), "",
       kInvalidEncoding},
      {"empty key text", "", good, kInvalidEncoding},
      {"key line of 41 bytes", KeyWithBytes(ProductKeyBytes().substr(1)), good, kInvalidEncoding},
      {"key line with a trailing space",
       ToBase64("untrusted comment: x\n" + SplitLines(ReadVector("product.pub"))[1] + " \n"), good,
       kInvalidEncoding},
      {"other key algorithm, broken signature", KeyWithBytes(otherAlgorithm), "", kUnsupported},
      {"other key algorithm, legacy signature", KeyWithBytes(otherAlgorithm), legacy, kUnsupported},
      {"unknown second algorithm byte", KeyWithBytes(unknownSecond), good, kUnsupported},
      {"good key, broken signature", product, "", kUnreadable},
      {"good key, other key's legacy-free signature", product, other, kWrongKey},
      {"key algorithm not compared with the signature's", KeyWithBytes(upperAlgorithm), good,
       "verified"},
      {"key file with CRLF line ends", KeyWithBytes(ProductKeyBytes(), "\r\n"), good, "verified"},
      {"key Base64 wrapped in whitespace", "\n " + product + "\t\n", good, "verified"},
      {"key file with further lines", ToBase64(ReadVector("product.pub") + "more\n"), good,
       "verified"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Verdict(c.signature, data, c.key), c.expected) << c.name;
  }
}

TEST(SignatureVerifier, LegacyIsReportedAfterTheKeyId) {
  // The other key's legacy signature fails on its key id, not on its mode.
  const std::string other = ReadVector("data.other.minisig");
  EXPECT_EQ(Verdict(ToBase64(WithSignatureByte(other, 1, 'd')), "", ProductKey()), kWrongKey);
}

}  // namespace
}  // namespace kestrova
