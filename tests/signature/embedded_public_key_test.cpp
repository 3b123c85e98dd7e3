#include "signature/embedded_public_key.h"

#include <gtest/gtest.h>

#include "signature/base64_text.h"
#include "signature/minisign_public_key.h"
#include "signature/signature_verifier.h"
#include "signature_vectors.h"

namespace kestrova {
namespace {

TEST(EmbeddedPublicKey, IsOneLineOfStandardBase64OfAMinisignPublicKeyFile) {
  const std::string_view key = EmbeddedPublicKey();
  EXPECT_EQ(key.size(), 152u);
  EXPECT_EQ(
      key.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="),
      std::string_view::npos);

  const auto text = DecodeBase64Text(key);
  ASSERT_TRUE(text.ok());
  const auto lines = test::SplitLines(text.value());
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(lines[0].starts_with("untrusted comment: minisign public key ")) << lines[0];
  EXPECT_EQ(lines[1].size(), 56u);

  const auto decoded = DecodeMinisignPublicKey(text.value());
  ASSERT_TRUE(decoded.ok()) << decoded.failure().text;
  EXPECT_EQ(decoded.value().algorithm[0], 'E');
  EXPECT_EQ(decoded.value().algorithm[1], 'd');
}

TEST(EmbeddedPublicKey, IsTheKeyThatCreateUses) {
  // The run's key pairs are new, so the built-in key never made their signatures.
  const auto verifier = SignatureVerifier::Create(test::ToBase64(test::ReadVector("data.minisig")));
  ASSERT_FALSE(verifier.ok());
  EXPECT_EQ(verifier.failure().text,
            "The signature was created with a different key than the one provided");
  const auto broken = SignatureVerifier::Create("");
  ASSERT_FALSE(broken.ok());
  EXPECT_EQ(broken.failure().text, "подпись не читается");
}

}  // namespace
}  // namespace kestrova
