#include "splash/accessible_splash_win.h"

#include <oleacc.h>

#include "base/system_functions_win.h"
#include "base/system_library_win.h"
#include "base/system_text_win.h"
#include "splash/accessible_splash.h"
#include "splash/fallback_link.h"
#include "state/setup_state.h"

static_assert(kNameChangeEvent == EVENT_OBJECT_NAMECHANGE);
static_assert(kValueChangeEvent == EVENT_OBJECT_VALUECHANGE);

namespace {

// Spelled out: <oleacc.h> declares IID_IAccessible as data of oleacc.dll,
// which the exe does not link.
constexpr IID kAccessibleInterface{
    0x618736E0, 0x3C3D, 0x11CF, {0x81, 0x0C, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
constexpr IID kDispatchInterface{0x00020400, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr IID kUnknownInterface{0, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};


}  // namespace

// The assembler name of an operation the standard object answers, defined
// below.
#define ZORVA_FORWARDED(operation) asm("zorva_forward_" #operation)

// The client area as a progress bar. It answers the four properties that say
// what the splash shows and, once a failure offers the fallback page, its
// default action; every other operation of IAccessible (location,
// state, parent, navigation, hit test, focus, ...) is the system's standard
// client object's, which it holds. One object lives for the whole process,
// so no reference is counted.
class AccessibleSplash final : public IAccessible {
 public:
  IAccessible* standard = nullptr;

  // Defined out of the class, so that this file holds the table of operations.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID interfaceId, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  // Assistive technology calls the operations directly; nothing is offered
  // for late binding.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    return E_NOTIMPL;
  }

  HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
    return AnswerText(child.vt, child.lVal, AccessibleProperty::kName, name);
  }
  HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
    return AnswerText(child.vt, child.lVal, AccessibleProperty::kValue, value);
  }
  HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* description) override {
    return AnswerText(child.vt, child.lVal, AccessibleProperty::kDescription, description);
  }
  HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
    const bool self = IsSelf(child.vt, child.lVal);
    role->vt = self ? VT_I4 : VT_EMPTY;
    role->lVal = ROLE_SYSTEM_PROGRESSBAR;
    return self ? S_OK : E_INVALIDARG;
  }

  HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override
      ZORVA_FORWARDED(get_accParent);
  HRESULT STDMETHODCALLTYPE get_accChildCount(LONG* count) override
      ZORVA_FORWARDED(get_accChildCount);
  HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** object) override
      ZORVA_FORWARDED(get_accChild);
  HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override
      ZORVA_FORWARDED(get_accState);
  HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* help) override
      ZORVA_FORWARDED(get_accHelp);
  HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, LONG* topic) override
      ZORVA_FORWARDED(get_accHelpTopic);
  HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override
      ZORVA_FORWARDED(get_accKeyboardShortcut);
  HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* child) override ZORVA_FORWARDED(get_accFocus);
  HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* children) override
      ZORVA_FORWARDED(get_accSelection);
  // After a failure, in a copy that names a fallback page, the link's text.
  // Otherwise none: S_FALSE and no text, as the standard client object
  // answers.
  HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override {
    return AnswerText(child.vt, child.lVal, AccessibleProperty::kDefaultAction, action);
  }
  HRESULT STDMETHODCALLTYPE accSelect(LONG flags, VARIANT child) override
      ZORVA_FORWARDED(accSelect);
  HRESULT STDMETHODCALLTYPE accLocation(LONG* left, LONG* top, LONG* width, LONG* height,
                                        VARIANT child) override ZORVA_FORWARDED(accLocation);
  HRESULT STDMETHODCALLTYPE accNavigate(LONG direction, VARIANT start, VARIANT* end) override
      ZORVA_FORWARDED(accNavigate);
  HRESULT STDMETHODCALLTYPE accHitTest(LONG x, LONG y, VARIANT* child) override
      ZORVA_FORWARDED(accHitTest);
  // Opens the fallback page while the link is there. Posted to the window,
  // so the request returns at once rather than when the browser has started.
  HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
    if (!IsSelf(child.vt, child.lVal)) return E_INVALIDARG;
    if (ShownLinkText() == nullptr) return DISP_E_MEMBERNOTFOUND;
    PostMessageA(SetupWindow(), kOpenFallbackPageMessage, 0, 0);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_accName(VARIANT child, BSTR name) override
      ZORVA_FORWARDED(put_accName);
  HRESULT STDMETHODCALLTYPE put_accValue(VARIANT child, BSTR value) override
      ZORVA_FORWARDED(put_accValue);

 private:
  // The splash has no children: only the object itself answers.
  static bool IsSelf(VARTYPE type, LONG child) { return type == VT_I4 && child == CHILDID_SELF; }

  // A property without a value at this moment (a default action before the
  // link is there) answers S_FALSE and no text.
  static HRESULT AnswerText(VARTYPE type, LONG child, AccessibleProperty property, BSTR* answer) {
    *answer = nullptr;
    if (!IsSelf(type, child)) return E_INVALIDARG;
    AccessibleAnswer room;
    const char16_t* text = AccessibleText(property, room);
    if (text == nullptr) return S_FALSE;
    *answer = systemFunctions.SysAllocString(SystemText(text));
    return *answer != nullptr ? S_OK : E_OUTOFMEMORY;
  }
};

HRESULT AccessibleSplash::QueryInterface(REFIID interfaceId, void** object) {
  for (const IID* ours : {&kAccessibleInterface, &kDispatchInterface, &kUnknownInterface}) {
    if (InlineIsEqualGUID(interfaceId, *ours)) {
      *object = this;
      return S_OK;
    }
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

// The forwarded operations. Each entry pushes the operation's place in
// IAccessible's table of operations, which COM fixes; the common part takes
// it back, puts the standard object in place of this one as the call's first
// argument and jumps to that operation of the standard object, every other
// argument left where the caller put it. Compiled, a forwarding call copies
// each VARIANT argument twice on the way, which would double the object's
// share of the shipping exe.
asm(R"(
	.text
zorva_forward_get_accParent:            push $7;   jmp zorva_forward_to_standard
zorva_forward_get_accChildCount:        push $8;   jmp zorva_forward_to_standard
zorva_forward_get_accChild:             push $9;   jmp zorva_forward_to_standard
zorva_forward_get_accState:             push $14;  jmp zorva_forward_to_standard
zorva_forward_get_accHelp:              push $15;  jmp zorva_forward_to_standard
zorva_forward_get_accHelpTopic:         push $16;  jmp zorva_forward_to_standard
zorva_forward_get_accKeyboardShortcut:  push $17;  jmp zorva_forward_to_standard
zorva_forward_get_accFocus:             push $18;  jmp zorva_forward_to_standard
zorva_forward_get_accSelection:         push $19;  jmp zorva_forward_to_standard
zorva_forward_accSelect:                push $21;  jmp zorva_forward_to_standard
zorva_forward_accLocation:              push $22;  jmp zorva_forward_to_standard
zorva_forward_accNavigate:              push $23;  jmp zorva_forward_to_standard
zorva_forward_accHitTest:               push $24;  jmp zorva_forward_to_standard
zorva_forward_put_accName:              push $26;  jmp zorva_forward_to_standard
zorva_forward_put_accValue:             push $27;  jmp zorva_forward_to_standard
zorva_forward_to_standard:
)"
#if defined(__x86_64__)
    // this in rcx; the other arguments in rdx, r8, r9 and on the stack.
    R"(
	pop %rax
	mov 8(%rcx), %rcx
	mov (%rcx), %r10
	jmp *(%r10,%rax,8)
)"
#else
    // stdcall: this is the first word above the return address.
    R"(
	pop %eax
	mov 4(%esp), %ecx
	mov 4(%ecx), %ecx
	mov %ecx, 4(%esp)
	mov (%ecx), %edx
	jmp *(%edx,%eax,4)
)"
#endif
);

// The forwarding above finds the standard object in the word after the
// pointer to the table of operations: the class's one data member.
static_assert(sizeof(AccessibleSplash) == 2 * sizeof(void*));

namespace {

constinit AccessibleSplash accessibleSplash;
// The texts as the last events told of them.
AnnouncedTexts announced{};

// Loads what the object needs, once: oleacc for the standard client object
// and the marshalling of the answer, COM for that marshalling, oleaut32 for
// the texts' BSTRs. False while any of it is missing; the next request tries
// again.
bool StartAccessibility(HWND hwnd) {
  if (accessibleSplash.standard != nullptr) return true;
  // Only the look-ups are tested; a failed load makes its look-ups fail too.
  const bool found =
      LookUpSystemFunctions(SystemModule::kOleacc, LoadSystemLibrary(u"oleacc.dll")) &&
      LookUpSystemFunctions(SystemModule::kOle32, LoadSystemLibrary(u"ole32.dll")) &&
      LookUpSystemFunctions(SystemModule::kOleaut32, LoadSystemLibrary(u"oleaut32.dll"));
  if (!found) return false;
  // The answer is marshalled to the asking process and its calls come back
  // through this thread's message loop: a single-threaded apartment. The
  // result is not needed; a failure shows as a failed marshalling.
  systemFunctions.CoInitialize(nullptr);
  IAccessible* standard = nullptr;
  if (systemFunctions.CreateStdAccessibleObject(hwnd, OBJID_CLIENT, kAccessibleInterface,
                                                reinterpret_cast<void**>(&standard)) != S_OK) {
    return false;
  }
  accessibleSplash.standard = standard;
  announced = ShownTexts();
  return true;
}

}  // namespace

LRESULT AnswerAccessibleObjectRequest(HWND hwnd, WPARAM wParam, LPARAM lParam) {
  // The object identifier is a 32-bit value, which a 64-bit lParam may carry
  // zero- or sign-extended.
  if (static_cast<LONG>(lParam) != OBJID_CLIENT || !StartAccessibility(hwnd)) return 0;
  return systemFunctions.LresultFromObject(kAccessibleInterface, wParam, &accessibleSplash);
}

void AnnounceTextChanges(HWND hwnd) {
  if (accessibleSplash.standard == nullptr) return;
  const AnnouncedTexts shown = ShownTexts();
  const TextChangeEvents change = EventsForChange(announced, shown);
  announced = shown;
  for (const std::uint32_t event : change.events)
    if (event != kNoEvent) NotifyWinEvent(event, hwnd, OBJID_CLIENT, CHILDID_SELF);
}
