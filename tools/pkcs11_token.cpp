#include "tools/pkcs11_token.h"

#include <dlfcn.h>
#include <p11-kit/p11-kit.h>
#include <p11-kit/uri.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <utility>

#include "tools/tool_error.h"

// A module is initialized once per process however many tokens use it: a
// second C_Initialize would fail, and the first C_Finalize would end every
// other user's sessions. Loading and the last release take the same lock, so
// a module is never finalized while it is being handed out again.
class Pkcs11Module {
 public:
  static std::shared_ptr<Pkcs11Module> Load(const std::string& path);
  Pkcs11Module(void* library, CK_FUNCTION_LIST* functions, bool finalize)
      : library_(library), functions_(functions), finalize_(finalize) {}
  ~Pkcs11Module() {
    if (finalize_) functions_->C_Finalize(nullptr);
    dlclose(library_);
  }
  CK_FUNCTION_LIST& Functions() const { return *functions_; }

 private:
  static std::mutex& RegistryLock() {
    static std::mutex lock;
    return lock;
  }
  void* library_;
  CK_FUNCTION_LIST* functions_;
  bool finalize_;
};

namespace {

// Attribute values this tool reads are a key's label, id, modulus and
// exponent: a few hundred bytes.
constexpr CK_ULONG kAttributeLimit = 4096;

[[noreturn]] void Fail(const std::string& message) { throw ToolError(kExitOperationalError, message); }

void* OpenLibrary(const std::string& path) {
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) Fail(std::string("cannot load the PKCS #11 module (") + dlerror() + ")");
  return library;
}

CK_FUNCTION_LIST* FunctionsOf(void* library, const std::string& path) {
  auto getFunctionList = reinterpret_cast<CK_C_GetFunctionList>(dlsym(library, "C_GetFunctionList"));
  CK_FUNCTION_LIST* functions = nullptr;
  if (getFunctionList == nullptr || getFunctionList(&functions) != CKR_OK || functions == nullptr) {
    dlclose(library);
    Fail(path + " is not a PKCS #11 module (it has no C_GetFunctionList)");
  }
  return functions;
}

P11KitUri* ParseUri(const std::string& text) {
  P11KitUri* uri = p11_kit_uri_new();
  if (uri == nullptr) throw std::bad_alloc();
  const int parsed = p11_kit_uri_parse(text.c_str(), P11_KIT_URI_FOR_ANY, uri);
  // The URI is not shown: it might hold a PIN.
  std::string refusal;
  if (parsed != P11_KIT_URI_OK) {
    refusal = std::string("the PKCS #11 URI does not parse (") + p11_kit_uri_message(parsed) + ")";
  } else if (p11_kit_uri_get_pin_value(uri) != nullptr || p11_kit_uri_get_pin_source(uri) != nullptr) {
    refusal = "the PKCS #11 URI holds a PIN or names its source; give the PIN in an environment variable "
              "named with --key-pin-env NAME instead";
  } else if (p11_kit_uri_any_unrecognized(uri)) {
    refusal = "the PKCS #11 URI has an attribute this tool does not know";
  }
  if (!refusal.empty()) {
    p11_kit_uri_free(uri);
    Fail(refusal);
  }
  return uri;
}

const char* PinFrom(const std::string& keyName, const std::optional<std::string>& variable) {
  if (!variable) {
    Fail(keyName + ": a token key needs its PIN: put it in an environment variable and name it with "
                   "--key-pin-env NAME");
  }
  const char* pin = std::getenv(variable->c_str());
  if (pin == nullptr) Fail(keyName + ": the environment variable " + *variable + " (the token's PIN) is not set");
  return pin;
}

}  // namespace

std::shared_ptr<Pkcs11Module> Pkcs11Module::Load(const std::string& path) {
  static std::map<std::string, std::weak_ptr<Pkcs11Module>> loaded;
  std::lock_guard<std::mutex> guard(RegistryLock());
  if (auto module = loaded[path].lock()) return module;
  void* library = OpenLibrary(path);
  CK_FUNCTION_LIST* functions = FunctionsOf(library, path);
  // The module's own OS locks, so that several threads may call it at once.
  CK_C_INITIALIZE_ARGS arguments{};
  arguments.flags = CKF_OS_LOCKING_OK;
  const CK_RV initialized = functions->C_Initialize(&arguments);
  if (initialized != CKR_OK && initialized != CKR_CRYPTOKI_ALREADY_INITIALIZED) {
    dlclose(library);
    Fail(path + ": C_Initialize failed (" + p11_kit_strerror(initialized) + ")");
  }
  std::shared_ptr<Pkcs11Module> module(new Pkcs11Module(library, functions, initialized == CKR_OK),
                                       [](Pkcs11Module* released) {
                                         std::lock_guard<std::mutex> guard(RegistryLock());
                                         delete released;
                                       });
  loaded[path] = module;
  return module;
}

Pkcs11Token::Pkcs11Token(const std::string& uri, const std::optional<std::string>& pinVariable)
    : name_(uri), uri_(ParseUri(uri), p11_kit_uri_free) {
  const char* pin = PinFrom(name_, pinVariable);
  const char* modulePath = p11_kit_uri_get_module_path(uri_.get());
  if (modulePath == nullptr) Fail(name_ + ": the URI names no module; add ?module-path=/path/to/module.so");
  module_ = Pkcs11Module::Load(modulePath);
  CK_INFO moduleInfo;
  Check(Functions().C_GetInfo(&moduleInfo), "C_GetInfo");
  if (!p11_kit_uri_match_module_info(uri_.get(), &moduleInfo)) {
    Fail(name_ + ": the module is not the library the URI's library attributes name");
  }

  CK_ULONG slotCount = 0;
  Check(Functions().C_GetSlotList(CK_TRUE, nullptr, &slotCount), "C_GetSlotList");
  std::vector<CK_SLOT_ID> slots(slotCount);
  Check(Functions().C_GetSlotList(CK_TRUE, slots.data(), &slotCount), "C_GetSlotList");
  slots.resize(std::min<std::size_t>(slotCount, slots.size()));
  std::vector<std::pair<CK_SLOT_ID, CK_TOKEN_INFO>> matching;
  for (const CK_SLOT_ID slot : slots) {
    if (MatchesSlot(slot)) {
      CK_TOKEN_INFO info;
      Check(Functions().C_GetTokenInfo(slot, &info), "C_GetTokenInfo");
      if (p11_kit_uri_match_token_info(uri_.get(), &info)) matching.emplace_back(slot, info);
    }
  }
  if (matching.empty()) {
    Fail(name_ + ": no such token (none of the module's " + std::to_string(slots.size()) + " tokens matches)");
  }
  if (matching.size() > 1) {
    Fail(name_ + ": " + std::to_string(matching.size()) + " tokens match; name one with token=");
  }
  slot_ = matching.front().first;
  const CK_ULONG maxSessions = matching.front().second.ulMaxSessionCount;
  if (maxSessions != CK_EFFECTIVELY_INFINITE && maxSessions != CK_UNAVAILABLE_INFORMATION) {
    spareSessions_ = maxSessions > 1 ? maxSessions - 1 : 0;
  }

  session_ = OpenSession(true);
  auto* pinBytes = reinterpret_cast<CK_UTF8CHAR*>(const_cast<char*>(pin));
  const CK_RV loggedIn = Functions().C_Login(session_, CKU_USER, pinBytes, std::strlen(pin));
  if (loggedIn == CKR_OK || loggedIn == CKR_USER_ALREADY_LOGGED_IN) return;
  CloseSession(session_);
  if (loggedIn == CKR_PIN_INCORRECT) Fail(name_ + ": wrong PIN (from " + *pinVariable + ")");
  if (loggedIn == CKR_PIN_LOCKED) Fail(name_ + ": the token's user PIN is locked");
  Check(loggedIn, "C_Login");
}

// The URI's slot attributes, if any, narrow the slots searched for the token.
bool Pkcs11Token::MatchesSlot(CK_SLOT_ID slot) const {
  const CK_SLOT_ID wanted = p11_kit_uri_get_slot_id(uri_.get());
  if (wanted != static_cast<CK_SLOT_ID>(-1) && wanted != slot) return false;
  CK_SLOT_INFO info;
  Check(Functions().C_GetSlotInfo(slot, &info), "C_GetSlotInfo");
  return p11_kit_uri_match_slot_info(uri_.get(), &info) == 1;
}

Pkcs11Token::~Pkcs11Token() { CloseSession(session_); }

CK_FUNCTION_LIST& Pkcs11Token::Functions() const { return module_->Functions(); }

void Pkcs11Token::Check(CK_RV result, const char* operation) const {
  if (result != CKR_OK) Fail(name_ + ": " + operation + " failed (" + p11_kit_strerror(result) + ")");
}

CK_SESSION_HANDLE Pkcs11Token::OpenSession(bool readWrite) const {
  CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
  const CK_FLAGS flags = CKF_SERIAL_SESSION | (readWrite ? CKF_RW_SESSION : 0);
  Check(Functions().C_OpenSession(slot_, flags, nullptr, nullptr, &session),
        "C_OpenSession");
  return session;
}

void Pkcs11Token::CloseSession(CK_SESSION_HANDLE session) const { Functions().C_CloseSession(session); }

bool Pkcs11Token::HasMechanism(CK_MECHANISM_TYPE mechanism) const {
  CK_ULONG count = 0;
  Check(Functions().C_GetMechanismList(slot_, nullptr, &count), "C_GetMechanismList");
  std::vector<CK_MECHANISM_TYPE> mechanisms(count);
  Check(Functions().C_GetMechanismList(slot_, mechanisms.data(), &count), "C_GetMechanismList");
  mechanisms.resize(std::min<std::size_t>(count, mechanisms.size()));
  return std::find(mechanisms.begin(), mechanisms.end(), mechanism) != mechanisms.end();
}

std::vector<CK_ATTRIBUTE> Pkcs11Token::KeyAttributes() const {
  std::vector<CK_ATTRIBUTE> attributes;
  for (const CK_ATTRIBUTE_TYPE type : {CKA_LABEL, CKA_ID}) {
    if (const CK_ATTRIBUTE* given = p11_kit_uri_get_attribute(uri_.get(), type)) attributes.push_back(*given);
  }
  return attributes;
}

std::optional<CK_OBJECT_CLASS> Pkcs11Token::ObjectClass() const {
  const CK_ATTRIBUTE* type = p11_kit_uri_get_attribute(uri_.get(), CKA_CLASS);
  if (type == nullptr || type->ulValueLen != sizeof(CK_OBJECT_CLASS)) return std::nullopt;
  CK_OBJECT_CLASS objectClass;
  std::memcpy(&objectClass, type->pValue, sizeof objectClass);
  return objectClass;
}

std::vector<CK_OBJECT_HANDLE> Pkcs11Token::FindKeys(CK_OBJECT_CLASS keyClass, std::size_t limit) const {
  std::vector<CK_ATTRIBUTE> pattern{{CKA_CLASS, &keyClass, sizeof keyClass}};
  for (const CK_ATTRIBUTE& given : KeyAttributes()) pattern.push_back(given);
  Check(Functions().C_FindObjectsInit(session_, pattern.data(), pattern.size()), "C_FindObjectsInit");
  std::vector<CK_OBJECT_HANDLE> found(limit);
  CK_ULONG count = 0;
  const CK_RV searched = Functions().C_FindObjects(session_, found.data(), found.size(), &count);
  Functions().C_FindObjectsFinal(session_);
  Check(searched, "C_FindObjects");
  found.resize(std::min<std::size_t>(count, limit));
  return found;
}

std::optional<Pkcs11Bytes> Pkcs11Token::Attribute(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type) const {
  CK_ATTRIBUTE attribute{type, nullptr, 0};
  const CK_RV sized = Functions().C_GetAttributeValue(session_, object, &attribute, 1);
  if (sized == CKR_ATTRIBUTE_SENSITIVE || sized == CKR_ATTRIBUTE_TYPE_INVALID ||
      attribute.ulValueLen == CK_UNAVAILABLE_INFORMATION) {
    return std::nullopt;
  }
  Check(sized, "C_GetAttributeValue");
  if (attribute.ulValueLen > kAttributeLimit) Fail(name_ + ": a key attribute is larger than any this tool reads");
  Pkcs11Bytes value(attribute.ulValueLen);
  attribute.pValue = value.data();
  Check(Functions().C_GetAttributeValue(session_, object, &attribute, 1), "C_GetAttributeValue");
  value.resize(std::min<std::size_t>(attribute.ulValueLen, value.size()));
  return value;
}
