// The setup window on macOS: one AppKit window whose four buttons forward to the shared
// SetupController, with modal alerts and questions, a Command-Q menu, and the program ending
// when the window closes. Everything runs on the main thread inside NSApplication's loop.
#import <AppKit/AppKit.h>
#import <Foundation/Foundation.h>

#include <memory>
#include <vector>

#include "platform/system_locations.h"
#include "setup/setup_window.h"
#include "setup_core/setup_controller.h"

namespace {

constexpr CGFloat contentWidth = 540;
constexpr CGFloat contentHeight = 360;
constexpr CGFloat sideMargin = 28;

NSString* toNSString(const std::string& text) {
    NSString* string = [NSString stringWithUTF8String:text.c_str()];
    return string != nil ? string : @"";
}

NSAlert* alertWithText(const std::string& text) {
    NSAlert* alert = [[[NSAlert alloc] init] autorelease];
    [alert setMessageText:toNSString(quenra::SetupTexts::english().title)];
    [alert setInformativeText:toNSString(text)];
    return alert;
}

class AppKitSetupView final : public quenra::SetupView {
  public:
    void attach(NSTextField* status) { status_ = status; }

    void setStatus(const std::string& text) override { [status_ setStringValue:toNSString(text)]; }

    void showAlert(const std::string& text) override {
        @autoreleasepool {
            [alertWithText(text) runModal];
        }
    }

    bool askQuestion(const std::string& text, const std::string& continueLabel,
                     const std::string& cancelLabel) override {
        @autoreleasepool {
            NSAlert* alert = [[[NSAlert alloc] init] autorelease];
            [alert setMessageText:toNSString(text)];
            [alert addButtonWithTitle:toNSString(continueLabel)];
            [alert addButtonWithTitle:toNSString(cancelLabel)];
            return [alert runModal] == NSAlertFirstButtonReturn;
        }
    }

    void openAddress(const std::string& address) override {
        @autoreleasepool {
            NSURL* url = [NSURL URLWithString:toNSString(address)];
            if (url != nil) {
                [[NSWorkspace sharedWorkspace] openURL:url];
            }
        }
    }

  private:
    NSTextField* status_ = nil;  // owned by the window's view tree
};

}  // namespace

@interface QuenraSetupApp : NSObject <NSApplicationDelegate> {
    std::vector<quenra::Integration>* integrations_;
    BOOL korean_;
    AppKitSetupView* view_;
    quenra::SetupController* controller_;
    NSWindow* window_;
    NSTextField* status_;
}
- (instancetype)initWithIntegrations:(const std::vector<quenra::Integration>&)integrations
                              korean:(BOOL)korean;
- (void)installIntegration:(id)sender;
- (void)testConnection:(id)sender;
- (void)removeIntegration:(id)sender;
- (void)openWebsite:(id)sender;
@end

@implementation QuenraSetupApp

- (instancetype)initWithIntegrations:(const std::vector<quenra::Integration>&)integrations
                              korean:(BOOL)korean {
    self = [super init];
    if (self != nil) {
        integrations_ = new std::vector<quenra::Integration>(integrations);
        korean_ = korean;
        view_ = new AppKitSetupView();
        controller_ = nullptr;
        window_ = nil;
        status_ = [[NSTextField wrappingLabelWithString:@""] retain];
    }
    return self;
}

- (void)dealloc {
    delete controller_;
    delete view_;
    delete integrations_;
    [status_ release];
    [window_ release];
    [super dealloc];
}

- (NSMenu*)mainMenuWithQuitTitle:(NSString*)quitTitle {
    NSMenu* mainMenu = [[[NSMenu alloc] initWithTitle:@""] autorelease];
    NSMenuItem* appItem = [[[NSMenuItem alloc] initWithTitle:@"" action:nullptr
                                               keyEquivalent:@""] autorelease];
    NSMenu* appMenu = [[[NSMenu alloc] initWithTitle:@""] autorelease];
    [appMenu addItemWithTitle:quitTitle action:@selector(terminate:) keyEquivalent:@"q"];
    [appItem setSubmenu:appMenu];
    [mainMenu addItem:appItem];
    return mainMenu;
}

- (NSButton*)buttonTitled:(const std::string&)title action:(SEL)action {
    return [NSButton buttonWithTitle:toNSString(title) target:self action:action];
}

- (void)applicationDidFinishLaunching:(NSNotification*)notification {
    (void)notification;
    controller_ = new quenra::SetupController(*integrations_, korean_ == YES, *view_);
    const quenra::SetupTexts& texts = controller_->texts();
    [NSApp setMainMenu:[self mainMenuWithQuitTitle:toNSString(texts.quit)]];

    window_ =
        [[NSWindow alloc] initWithContentRect:NSMakeRect(0, 0, contentWidth, contentHeight)
                                    styleMask:NSWindowStyleMaskTitled | NSWindowStyleMaskClosable |
                                              NSWindowStyleMaskMiniaturizable
                                      backing:NSBackingStoreBuffered
                                        defer:NO];
    // The delegate keeps the window; closing it must not free it under AppKit's feet.
    [window_ setReleasedWhenClosed:NO];
    [window_ setTitle:toNSString(texts.title)];

    NSTextField* heading = [NSTextField labelWithString:toNSString(texts.title)];
    [heading setFont:[NSFont systemFontOfSize:24 weight:NSFontWeightSemibold]];
    NSTextField* description = [NSTextField wrappingLabelWithString:toNSString(texts.description)];
    NSTextField* version = [NSTextField labelWithString:toNSString(texts.versionLine)];
    [version setTextColor:[NSColor secondaryLabelColor]];
    // Wrapping labels break lines within the margins, not at their natural width.
    const CGFloat textWidth = contentWidth - 2 * sideMargin;
    [description setPreferredMaxLayoutWidth:textWidth];
    [status_ setPreferredMaxLayoutWidth:textWidth];

    NSArray<NSView*>* views = @[
        heading, description, version,
        [self buttonTitled:texts.installButton action:@selector(installIntegration:)],
        [self buttonTitled:texts.testButton action:@selector(testConnection:)],
        [self buttonTitled:texts.removeButton action:@selector(removeIntegration:)],
        [self buttonTitled:texts.websiteButton action:@selector(openWebsite:)], status_
    ];
    NSStackView* stack = [NSStackView stackViewWithViews:views];
    [stack setOrientation:NSUserInterfaceLayoutOrientationVertical];
    [stack setAlignment:NSLayoutAttributeLeading];
    [stack setSpacing:12];
    [stack setTranslatesAutoresizingMaskIntoConstraints:NO];

    NSView* content = [window_ contentView];
    [content addSubview:stack];
    [NSLayoutConstraint activateConstraints:@[
        [[stack leadingAnchor] constraintEqualToAnchor:[content leadingAnchor] constant:sideMargin],
        [[stack trailingAnchor] constraintEqualToAnchor:[content trailingAnchor]
                                               constant:-sideMargin],
        [[stack topAnchor] constraintEqualToAnchor:[content topAnchor] constant:26],
        [[stack bottomAnchor] constraintLessThanOrEqualToAnchor:[content bottomAnchor]
                                                       constant:-20],
    ]];

    view_->attach(status_);
    controller_->refresh();
    [window_ center];
    [window_ makeKeyAndOrderFront:nil];
    // Comes to the front even when another application is frontmost.
    [NSApp activate];
}

- (BOOL)applicationShouldTerminateAfterLastWindowClosed:(NSApplication*)sender {
    (void)sender;
    return YES;
}

- (void)installIntegration:(id)sender {
    (void)sender;
    @autoreleasepool {
        controller_->installIntegration();
    }
}

- (void)testConnection:(id)sender {
    (void)sender;
    @autoreleasepool {
        controller_->testConnection();
    }
}

- (void)removeIntegration:(id)sender {
    (void)sender;
    @autoreleasepool {
        controller_->removeIntegration();
    }
}

- (void)openWebsite:(id)sender {
    (void)sender;
    @autoreleasepool {
        controller_->openWebsite();
    }
}

@end

namespace quenra {

int SetupWindow::run(const std::vector<Integration>& integrations) {
    @autoreleasepool {
        NSApplication* application = [NSApplication sharedApplication];
        [application setActivationPolicy:NSApplicationActivationPolicyRegular];
        QuenraSetupApp* delegate = [[QuenraSetupApp alloc]
            initWithIntegrations:integrations
                          korean:prefersKorean(SystemLocations::preferredLanguages()) ? YES : NO];
        // NSApplication holds its delegate weakly; this reference keeps it for the whole run.
        [application setDelegate:delegate];
        [application run];
        [application setDelegate:nil];
        [delegate release];
    }
    return 0;
}

}  // namespace quenra
