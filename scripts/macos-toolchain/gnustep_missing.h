// Read only by scripts/check-macos, never by a build: the AppKit and Foundation declarations
// that Debian's GNUstep headers lack, with Apple's signatures, so the Objective-C++ sources can
// be syntax-checked on Linux. Declarations only; nothing here is ever linked or run. (The C and
// C++ sources are compiled against macOS's own libc headers instead.)
#pragma once

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
- (NSInteger)clearContents;
- (BOOL)writeObjects:(NSArray<id<NSPasteboardWriting>>*)objects;
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
