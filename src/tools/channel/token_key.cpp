#include "tools/channel/token_key.h"

#include <sodium.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

#include "tools/channel/replacing_file.h"

namespace kestrova::channel {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A PIN longer than this is no PIN.
constexpr std::uint64_t kMaxPinBytes = 256;

// The two ways a key's parameters name edwards25519: the printable string
// that PKCS#11 3.0 uses, and the curve's object identifier 1.3.101.112.
constexpr std::uint8_t kEdwards25519Name[] = {0x13, 0x0C, 'e', 'd', 'w', 'a', 'r',
                                              'd',  's',  '2', '5', '5', '1', '9'};
constexpr std::uint8_t kEd25519Oid[] = {0x06, 0x03, 0x2B, 0x65, 0x70};

std::string Hex(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (std::uint8_t byte : bytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0xF];
  }
  return text;
}

std::string Padded(const unsigned char* text, std::size_t size) {
  return std::string(reinterpret_cast<const char*>(text), p11_kit_space_strlen(text, size));
}

// The module's return value: p11-kit's description and the number.
std::string Reason(CK_RV rv) {
  char number[24];
  std::snprintf(number, sizeof number, "0x%lX", static_cast<unsigned long>(rv));
  return std::string(p11_kit_strerror(rv)) + " (CKR " + number + ")";
}

Failure CallFailure(std::string_view what, CK_RV rv) {
  return Failure{std::string(what) + ": " + Reason(rv)};
}

// The PIN: from the URI's pin-source (a file, "file:" optional), else from
// KESTROVA_SIGN_PIN; nothing when neither gives one. A final line break of
// the file is not part of it.
Result<std::optional<std::string>> ReadPin(const KeyUri& uri) {
  if (const char* source = p11_kit_uri_get_pin_source(uri.get())) {
    std::string_view path = source;
    if (path.starts_with("file:")) path.remove_prefix(5);
    auto content = ReadWholeFile(std::string(path), kMaxPinBytes);
    if (!content.ok()) return Failure{"the URI's pin-source: " + content.failure().text};
    std::string pin = std::move(content.value());
    while (!pin.empty() && (pin.back() == '\n' || pin.back() == '\r')) pin.pop_back();
    return std::optional<std::string>(std::move(pin));
  }
  if (const char* pin = std::getenv("KESTROVA_SIGN_PIN")) {
    return std::optional<std::string>(pin);
  }
  return std::optional<std::string>();
}

}  // namespace

Result<KeyUri> ParseKeyUri(std::string_view text) {
  KeyUri uri(p11_kit_uri_new());
  if (!uri) return Failure{"out of memory"};
  const int parsed = p11_kit_uri_parse(std::string(text).c_str(), P11_KIT_URI_FOR_ANY, uri.get());
  if (parsed != P11_KIT_URI_OK) {
    return Failure{"--key: not a PKCS#11 URI (" + std::string(p11_kit_uri_message(parsed)) +
                   "): " + std::string(text)};
  }
  if (p11_kit_uri_get_pin_value(uri.get()) != nullptr) {
    return Failure{
        "--key: the URI carries the PIN (pin-value); the PIN never goes on a command line: give "
        "it in KESTROVA_SIGN_PIN or name a file with pin-source"};
  }
  return uri;
}

// The module, a session on the chosen token, and the key within it.
struct TokenKey::Session {
  CK_FUNCTION_LIST* module = nullptr;
  bool initialised = false;
  CK_SESSION_HANDLE handle = CK_INVALID_HANDLE;
  CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
  std::string token;  // the token's label, for messages
  bool protectedPath = false;
  bool alwaysAuthenticate = false;
  std::string pin;

  Session() = default;
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  ~Session() {
    sodium_memzero(pin.data(), pin.size());
    if (handle != CK_INVALID_HANDLE) module->C_CloseSession(handle);
    if (initialised) p11_kit_module_finalize(module);
    if (module != nullptr) p11_kit_module_release(module);
  }

  // An attribute's value; nothing when the object has none to show.
  std::optional<Bytes> Attribute(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type) const {
    CK_ATTRIBUTE attribute{type, nullptr, 0};
    if (module->C_GetAttributeValue(handle, object, &attribute, 1) != CKR_OK ||
        attribute.ulValueLen == CK_UNAVAILABLE_INFORMATION) {
      return std::nullopt;
    }
    Bytes value(attribute.ulValueLen);
    attribute.pValue = value.data();
    if (module->C_GetAttributeValue(handle, object, &attribute, 1) != CKR_OK) return std::nullopt;
    value.resize(attribute.ulValueLen);
    return value;
  }

  std::optional<CK_ULONG> Number(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type) const {
    const auto value = Attribute(object, type);
    if (!value || value->size() != sizeof(CK_ULONG)) return std::nullopt;
    CK_ULONG number = 0;
    std::copy(value->begin(), value->end(), reinterpret_cast<std::uint8_t*>(&number));
    return number;
  }

  Result<std::vector<CK_OBJECT_HANDLE>> Find(std::span<CK_ATTRIBUTE> match) const {
    if (CK_RV rv = module->C_FindObjectsInit(handle, match.data(), match.size()); rv != CKR_OK) {
      return CallFailure("token " + token + ": C_FindObjectsInit", rv);
    }
    std::vector<CK_OBJECT_HANDLE> found;
    CK_OBJECT_HANDLE batch[16];
    CK_ULONG count = 0;
    CK_RV rv = CKR_OK;
    while ((rv = module->C_FindObjects(handle, batch, 16, &count)) == CKR_OK && count > 0) {
      found.insert(found.end(), batch, batch + count);
    }
    module->C_FindObjectsFinal(handle);
    if (rv != CKR_OK) return CallFailure("token " + token + ": C_FindObjects", rv);
    return found;
  }

  // "LABEL (ID HEX)" of an object.
  std::string Name(CK_OBJECT_HANDLE object) const {
    const Bytes label = Attribute(object, CKA_LABEL).value_or(Bytes{});
    const Bytes id = Attribute(object, CKA_ID).value_or(Bytes{});
    return (label.empty() ? std::string("(no label)") : std::string(label.begin(), label.end())) +
           " (ID " + (id.empty() ? std::string("none") : Hex(id)) + ")";
  }

  Status Login(CK_USER_TYPE user) const {
    const CK_RV rv =
        protectedPath
            ? module->C_Login(handle, user, nullptr, 0)
            : module->C_Login(handle, user,
                              reinterpret_cast<CK_UTF8CHAR*>(const_cast<char*>(pin.data())),
                              pin.size());
    if (rv == CKR_OK || (rv == CKR_USER_ALREADY_LOGGED_IN && user == CKU_USER)) return kSuccess;
    if (rv == CKR_PIN_INCORRECT) return Failure{"token " + token + ": wrong PIN"};
    if (rv == CKR_PIN_LOCKED) {
      return Failure{"token " + token +
                     ": the PIN is locked (too many wrong PINs); the token's security officer "
                     "must unlock it"};
    }
    return CallFailure("token " + token + ": login", rv);
  }
};

TokenKey::TokenKey(std::unique_ptr<Session> session) : session_(std::move(session)) {}
TokenKey::TokenKey(TokenKey&&) noexcept = default;
TokenKey::~TokenKey() = default;

namespace {

Status LoadModule(TokenKey::Session& session, const std::string& path) {
  session.module =
      p11_kit_module_load(path.c_str(), P11_KIT_MODULE_UNMANAGED | P11_KIT_MODULE_CRITICAL);
  if (session.module == nullptr) {
    const char* message = p11_kit_message();
    return Failure{"the PKCS#11 module " + path + " cannot be loaded" +
                   (message != nullptr ? ": " + std::string(message) : std::string())};
  }
  if (CK_RV rv = p11_kit_module_initialize(session.module); rv != CKR_OK) {
    return CallFailure("the PKCS#11 module " + path + " does not start", rv);
  }
  session.initialised = true;
  return kSuccess;
}

// The one slot whose token the URI matches, with that token's description.
Result<std::pair<CK_SLOT_ID, CK_TOKEN_INFO>> ChooseToken(const TokenKey::Session& session,
                                                         const std::string& path,
                                                         const KeyUri& uri) {
  CK_FUNCTION_LIST* module = session.module;
  CK_INFO moduleInfo{};
  if (CK_RV rv = module->C_GetInfo(&moduleInfo); rv != CKR_OK) {
    return CallFailure(path + ": C_GetInfo", rv);
  }
  CK_ULONG count = 0;
  if (CK_RV rv = module->C_GetSlotList(CK_TRUE, nullptr, &count); rv != CKR_OK) {
    return CallFailure(path + ": C_GetSlotList", rv);
  }
  std::vector<CK_SLOT_ID> slots(count);
  if (CK_RV rv = module->C_GetSlotList(CK_TRUE, slots.data(), &count); rv != CKR_OK) {
    return CallFailure(path + ": C_GetSlotList", rv);
  }
  slots.resize(count);
  std::vector<std::pair<CK_SLOT_ID, CK_TOKEN_INFO>> matching;
  std::string present;
  for (CK_SLOT_ID slot : slots) {
    CK_SLOT_INFO slotInfo{};
    CK_TOKEN_INFO tokenInfo{};
    // A slot's token that was never initialised holds no key.
    if (module->C_GetSlotInfo(slot, &slotInfo) != CKR_OK ||
        module->C_GetTokenInfo(slot, &tokenInfo) != CKR_OK ||
        (tokenInfo.flags & CKF_TOKEN_INITIALIZED) == 0) {
      continue;
    }
    const std::string label = Padded(tokenInfo.label, sizeof tokenInfo.label);
    present += (present.empty() ? "" : ", ") + label;
    if (p11_kit_uri_match_module_info(uri.get(), &moduleInfo) &&
        p11_kit_uri_match_slot_info(uri.get(), &slotInfo) &&
        p11_kit_uri_match_token_info(uri.get(), &tokenInfo)) {
      matching.emplace_back(slot, tokenInfo);
    }
  }
  if (matching.size() == 1) return matching.front();
  if (matching.empty()) {
    return Failure{"no token of " + path + " matches the URI; its tokens: " +
                   (present.empty() ? std::string("none") : present)};
  }
  std::string labels;
  for (const auto& [slot, info] : matching) {
    labels += (labels.empty() ? "" : ", ") + Padded(info.label, sizeof info.label);
  }
  return Failure{std::to_string(matching.size()) + " tokens of " + path +
                 " match the URI: " + labels + "; name one with token=LABEL"};
}

Status CheckMechanism(const TokenKey::Session& session, CK_SLOT_ID slot) {
  CK_FUNCTION_LIST* module = session.module;
  CK_ULONG count = 0;
  std::vector<CK_MECHANISM_TYPE> mechanisms;
  CK_RV rv = module->C_GetMechanismList(slot, nullptr, &count);
  if (rv == CKR_OK) {
    mechanisms.resize(count);
    rv = module->C_GetMechanismList(slot, mechanisms.data(), &count);
    mechanisms.resize(count);
  }
  if (rv != CKR_OK) return CallFailure("token " + session.token + ": C_GetMechanismList", rv);
  CK_MECHANISM_INFO info{};
  if (std::ranges::find(mechanisms, CKM_EDDSA) == mechanisms.end() ||
      module->C_GetMechanismInfo(slot, CKM_EDDSA, &info) != CKR_OK ||
      (info.flags & CKF_SIGN) == 0) {
    return Failure{"token " + session.token +
                   " has no CKM_EDDSA: it cannot make Ed25519 signatures"};
  }
  return kSuccess;
}

Status OpenAndLogIn(TokenKey::Session& session, CK_SLOT_ID slot, const CK_TOKEN_INFO& info,
                    const KeyUri& uri) {
  if (CK_RV rv = session.module->C_OpenSession(slot, CKF_SERIAL_SESSION, nullptr, nullptr,
                                               &session.handle);
      rv != CKR_OK) {
    session.handle = CK_INVALID_HANDLE;
    return CallFailure("token " + session.token + ": C_OpenSession", rv);
  }
  session.protectedPath = (info.flags & CKF_PROTECTED_AUTHENTICATION_PATH) != 0;
  if ((info.flags & CKF_LOGIN_REQUIRED) == 0) return kSuccess;
  if (!session.protectedPath) {
    auto pin = ReadPin(uri);
    if (!pin.ok()) return pin.failure();
    if (!pin.value()) {
      return Failure{"token " + session.token +
                     " needs its PIN: put it in KESTROVA_SIGN_PIN or name a file with the URI's "
                     "pin-source"};
    }
    session.pin = std::move(*pin.value());
  }
  return session.Login(CKU_USER);
}

// The one private key that the URI matches.
Result<CK_OBJECT_HANDLE> ChooseKey(const TokenKey::Session& session, const KeyUri& uri) {
  CK_OBJECT_CLASS privateKey = CKO_PRIVATE_KEY;
  CK_ATTRIBUTE match[] = {{CKA_CLASS, &privateKey, sizeof privateKey}};
  auto keys = session.Find(match);
  if (!keys.ok()) return keys.failure();
  std::vector<CK_OBJECT_HANDLE> matching;
  std::string present;
  for (CK_OBJECT_HANDLE key : keys.value()) {
    Bytes label = session.Attribute(key, CKA_LABEL).value_or(Bytes{});
    Bytes id = session.Attribute(key, CKA_ID).value_or(Bytes{});
    CK_ATTRIBUTE attributes[] = {{CKA_CLASS, &privateKey, sizeof privateKey},
                                 {CKA_LABEL, label.data(), label.size()},
                                 {CKA_ID, id.data(), id.size()}};
    present += (present.empty() ? "" : ", ") + session.Name(key);
    if (p11_kit_uri_match_attributes(uri.get(), attributes, 3)) matching.push_back(key);
  }
  if (matching.size() == 1) return matching.front();
  if (matching.empty()) {
    return Failure{"no private key on token " + session.token + " matches the URI; its keys: " +
                   (present.empty() ? std::string("none") : present)};
  }
  std::string names;
  for (CK_OBJECT_HANDLE key : matching) names += (names.empty() ? "" : ", ") + session.Name(key);
  return Failure{std::to_string(matching.size()) + " private keys on token " + session.token +
                 " match the URI: " + names + "; name one with object=LABEL or id=%HEX"};
}

Status CheckEd25519(const TokenKey::Session& session, CK_OBJECT_HANDLE key) {
  const auto type = session.Number(key, CKA_KEY_TYPE);
  const auto parameters = session.Attribute(key, CKA_EC_PARAMS);
  const auto is = [&](std::span<const std::uint8_t> form) {
    return parameters && std::ranges::equal(*parameters, form);
  };
  if (type == CKK_EC_EDWARDS && (!parameters || is(kEdwards25519Name) || is(kEd25519Oid))) {
    return kSuccess;
  }
  std::string kind = "of key type " + (type ? std::to_string(*type) : std::string("unknown"));
  if (type == CKK_RSA) kind = "an RSA key";
  if (type == CKK_EC) kind = "an ECDSA key";
  if (type == CKK_EC_EDWARDS) kind = "an EdDSA key on another curve than edwards25519";
  return Failure{"key " + session.Name(key) + " on token " + session.token +
                 " is not an Ed25519 key: it is " + kind};
}

}  // namespace

Result<TokenKey> TokenKey::Open(const std::string& modulePath, const KeyUri& uri) {
  auto session = std::make_unique<Session>();
  if (Status loaded = LoadModule(*session, modulePath)) return *loaded;
  auto token = ChooseToken(*session, modulePath, uri);
  if (!token.ok()) return token.failure();
  const auto& [slot, info] = token.value();
  session->token = Padded(info.label, sizeof info.label);
  if (Status mechanism = CheckMechanism(*session, slot)) return *mechanism;
  if (Status login = OpenAndLogIn(*session, slot, info, uri)) return *login;

  auto key = ChooseKey(*session, uri);
  if (!key.ok()) return key.failure();
  session->key = key.value();
  if (Status ed25519 = CheckEd25519(*session, session->key)) return *ed25519;
  const Bytes id = session->Attribute(session->key, CKA_ID).value_or(Bytes{});
  const std::string name = session->Name(session->key);
  if (id.size() != 8) {
    return Failure{"key " + name + " on token " + session->token + " has an ID of " +
                   std::to_string(id.size()) +
                   " bytes; the update key's ID must be 8 bytes, the minisign key ID "
                   "(16 hexadecimal digits)"};
  }
  const auto always = session->Attribute(session->key, CKA_ALWAYS_AUTHENTICATE);
  session->alwaysAuthenticate = always && always->size() == 1 && always->front() != 0;

  TokenKey tokenKey(std::move(session));
  std::copy(id.begin(), id.end(), tokenKey.id_.begin());
  tokenKey.name_ = name;
  return tokenKey;
}

Result<std::array<std::uint8_t, 32>> TokenKey::PublicKey() const {
  CK_OBJECT_CLASS publicKey = CKO_PUBLIC_KEY;
  CK_ATTRIBUTE match[] = {{CKA_CLASS, &publicKey, sizeof publicKey},
                          {CKA_ID, const_cast<std::uint8_t*>(id_.data()), id_.size()}};
  auto found = session_->Find(match);
  if (!found.ok()) return found.failure();
  for (CK_OBJECT_HANDLE object : found.value()) {
    // The point is DER (an OCTET STRING of 32 bytes), or on some tokens bare.
    const auto point = session_->Attribute(object, CKA_EC_POINT);
    if (!point) continue;
    std::span<const std::uint8_t> bytes = *point;
    if (bytes.size() == 34 && bytes[0] == 0x04 && bytes[1] == 32) bytes = bytes.subspan(2);
    if (bytes.size() != 32) continue;
    std::array<std::uint8_t, 32> key{};
    std::ranges::copy(bytes, key.begin());
    return key;
  }
  return Failure{"token " + session_->token + " has no public-key object with the ID of key " +
                 name_ + ", or it holds no Ed25519 point; keep the key's public half on the token"};
}

Result<std::array<std::uint8_t, 64>> TokenKey::Sign(std::span<const std::uint8_t> message) const {
  const Session& session = *session_;
  CK_MECHANISM mechanism{CKM_EDDSA, nullptr, 0};
  if (CK_RV rv = session.module->C_SignInit(session.handle, &mechanism, session.key);
      rv != CKR_OK) {
    return CallFailure("token " + session.token + " could not sign with key " + name_, rv);
  }
  // A key that asks for its PIN at every use (a PIV signature key).
  if (session.alwaysAuthenticate) {
    if (Status login = session.Login(CKU_CONTEXT_SPECIFIC)) return *login;
  }
  std::array<std::uint8_t, 64> signature{};
  CK_ULONG size = signature.size();
  if (CK_RV rv = session.module->C_Sign(session.handle, const_cast<std::uint8_t*>(message.data()),
                                        message.size(), signature.data(), &size);
      rv != CKR_OK) {
    return CallFailure("token " + session.token + " could not sign with key " + name_, rv);
  }
  if (size != signature.size()) {
    return Failure{"token " + session.token + " made a signature of " + std::to_string(size) +
                   " bytes with key " + name_ + "; Ed25519 signatures have 64"};
  }
  return signature;
}

}  // namespace kestrova::channel
