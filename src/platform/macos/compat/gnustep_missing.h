// Read only by scripts/check-macos, never by a build: the Apple declarations that Debian's
// GNUstep headers lack, with Apple's signatures, so the macOS sources can be syntax-checked on
// Linux. Declarations only; nothing here is ever linked or run.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <time.h>

#ifdef __cplusplus
extern "C" {
#endif

// <time.h>
#define CLOCK_UPTIME_RAW ((clockid_t)8)
uint64_t clock_gettime_nsec_np(clockid_t clock_id);

// <stdio.h>
#define RENAME_EXCL 0x00000004
int renamex_np(const char* from, const char* to, unsigned int flags);

// <CoreGraphics/CGEventTypes.h>, <CoreGraphics/CGEventSource.h>
typedef enum CGEventSourceStateID : int32_t {
    kCGEventSourceStatePrivate = -1,
    kCGEventSourceStateCombinedSessionState = 0,
    kCGEventSourceStateHIDSystemState = 1
} CGEventSourceStateID;
typedef enum CGMouseButton : uint32_t {
    kCGMouseButtonLeft = 0,
    kCGMouseButtonRight = 1,
    kCGMouseButtonCenter = 2
} CGMouseButton;
bool CGEventSourceButtonState(CGEventSourceStateID stateID, CGMouseButton button);

// <Security/SecBase.h>, <Security/SecRandom.h>
enum { errSecSuccess = 0 };
typedef const struct __SecRandom* SecRandomRef;
extern const SecRandomRef kSecRandomDefault;
int SecRandomCopyBytes(SecRandomRef rnd, size_t count, void* bytes)
    __attribute__((warn_unused_result));

// <CommonCrypto/CommonDigest.h>
typedef uint32_t CC_LONG;
#define CC_SHA256_DIGEST_LENGTH 32
typedef struct CC_SHA256state_st {
    CC_LONG count[2];
    CC_LONG hash[8];
    CC_LONG wbuf[16];
} CC_SHA256_CTX;
int CC_SHA256_Init(CC_SHA256_CTX* c);
int CC_SHA256_Update(CC_SHA256_CTX* c, const void* data, CC_LONG len);
int CC_SHA256_Final(unsigned char* md, CC_SHA256_CTX* c);

#ifdef __cplusplus
}
#endif

#ifdef __OBJC__
#import <AppKit/NSApplication.h>
#import <AppKit/NSButton.h>
#import <AppKit/NSFont.h>
#import <AppKit/NSLayoutAnchor.h>
#import <AppKit/NSLayoutConstraint.h>
#import <AppKit/NSPasteboard.h>
#import <AppKit/NSPasteboardItem.h>
#import <AppKit/NSRunningApplication.h>
#import <AppKit/NSTextField.h>
#import <AppKit/NSUserInterfaceLayout.h>
#import <AppKit/NSView.h>
#import <Foundation/NSArray.h>
#import <Foundation/NSProcessInfo.h>

// <Foundation/NSProcessInfo.h>
typedef struct {
    NSInteger majorVersion;
    NSInteger minorVersion;
    NSInteger patchVersion;
} NSOperatingSystemVersion;

@interface NSProcessInfo (GNUstepMissing)
@property(readonly) NSOperatingSystemVersion operatingSystemVersion;
@end

// <AppKit/NSPasteboard.h>
typedef NSString* NSPasteboardType;
typedef NSString* NSPasteboardName;
APPKIT_EXPORT NSPasteboardType const NSPasteboardTypeFileURL;
APPKIT_EXPORT NSPasteboardName const NSPasteboardNameDrag;

@interface NSPasteboard (GNUstepMissing)
@property(readonly, copy) NSArray<NSPasteboardItem*>* pasteboardItems;
@end

// <AppKit/NSApplication.h>
@interface NSApplication (GNUstepMissing)
- (BOOL)setActivationPolicy:(NSApplicationActivationPolicy)activationPolicy;
- (void)activate;
@end

// <AppKit/NSTextField.h>
@interface NSTextField (GNUstepMissing)
+ (instancetype)labelWithString:(NSString*)stringValue;
+ (instancetype)wrappingLabelWithString:(NSString*)stringValue;
@property CGFloat preferredMaxLayoutWidth;
@end

// <AppKit/NSButton.h>
@interface NSButton (GNUstepMissing)
+ (instancetype)buttonWithTitle:(NSString*)title target:(id)target action:(SEL)action;
@end

// <AppKit/NSFont.h>
@interface NSFont (GNUstepMissing)
+ (NSFont*)systemFontOfSize:(CGFloat)fontSize weight:(NSFontWeight)weight;
@end

// <AppKit/NSLayoutConstraint.h>
@interface NSView (GNUstepMissing)
@property BOOL translatesAutoresizingMaskIntoConstraints;
@property(readonly, strong) NSLayoutXAxisAnchor* leadingAnchor;
@property(readonly, strong) NSLayoutXAxisAnchor* trailingAnchor;
@property(readonly, strong) NSLayoutYAxisAnchor* topAnchor;
@property(readonly, strong) NSLayoutYAxisAnchor* bottomAnchor;
@end

// <AppKit/NSStackView.h>
@interface NSStackView : NSView
+ (instancetype)stackViewWithViews:(NSArray<NSView*>*)views;
@property NSUserInterfaceLayoutOrientation orientation;
@property NSLayoutAttribute alignment;
@property CGFloat spacing;
@end
#endif
