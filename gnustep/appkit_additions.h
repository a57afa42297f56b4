// What the macOS layer's pasteboard code uses of AppKit that GNUstep 0.29 lacks or names its own
// way, supplied for the GNUstep build alone: gnustep/CMakeLists.txt puts this file in front of
// each Objective-C++ file of the layer it builds, and the category below is compiled into the
// object that calls it. Nothing here is part of the product, and nothing else is supplied.
#pragma once

#import <AppKit/AppKit.h>

// macOS names pasteboard types by their uniform type identifiers. GNUstep has no file URL type,
// and its plain-text constant is its own "NSStringPboardType", which Chrome never writes: on a
// Mac, a browser drag's text is "public.utf8-plain-text".
#define NSPasteboardTypeFileURL @"public.file-url"
#define NSPasteboardTypeString @"public.utf8-plain-text"

// The pasteboard a drag in progress uses.
#define NSPasteboardNameDrag NSDragPboard

// GNUstep's pasteboard item reports no types unless they come from a data provider, reads a
// string back other than it stored it, and raises when asked for a type it does not hold. The
// item the GNUstep build makes holds its own types, in the order given (a type may be listed
// with its data still to come, as Chrome's drag type is), and keeps strings and property lists
// serialised the way GNUstep's pasteboard keeps them for every type but its own string type;
// NSPasteboardItem names it in every file of the layer.
@interface QuenraPasteboardItem : NSPasteboardItem {
    NSMutableArray<NSString*>* storedTypes_;
    NSMutableDictionary<NSString*, NSData*>* storedData_;
}
- (void)listType:(NSString*)type;
@end
#define NSPasteboardItem QuenraPasteboardItem

// GNUstep keeps no pasteboard items, only each pasteboard's own types and data. These give a
// pasteboard items the way macOS does, across processes: the first item is the pasteboard's own
// types and data, as on macOS a pasteboard written with declareTypes:owner: has one item holding
// what was stored, and every further item lives in a pasteboard of its own, named for the
// pasteboard and the item's place and stamped with the change count of the claim that wrote it.
// An item stamped with any other count is an older claim's, and ends the list.
@interface NSPasteboard (QuenraPasteboardItems)
- (NSInteger)clearContents;
- (BOOL)writeObjects:(NSArray<NSPasteboardItem*>*)items;
- (NSArray<NSPasteboardItem*>*)pasteboardItems;
@end

#ifdef QUENRA_APPKIT_ADDITIONS_IMPLEMENTATION

@implementation QuenraPasteboardItem

- (void)dealloc {
    [storedTypes_ release];
    [storedData_ release];
    [super dealloc];
}

- (void)listType:(NSString*)type {
    if (storedTypes_ == nil) {
        storedTypes_ = [[NSMutableArray alloc] init];
        storedData_ = [[NSMutableDictionary alloc] init];
    }
    if (![storedTypes_ containsObject:type]) {
        [storedTypes_ addObject:type];
    }
}

- (NSArray<NSString*>*)types {
    return storedTypes_ != nil ? [[storedTypes_ copy] autorelease] : @[];
}

- (BOOL)setData:(NSData*)data forType:(NSString*)type {
    if (data == nil || type == nil) {
        return NO;
    }
    [self listType:type];
    [storedData_ setObject:data forKey:type];
    return YES;
}

- (NSData*)dataForType:(NSString*)type {
    return [storedData_ objectForKey:type];
}

- (BOOL)setPropertyList:(id)propertyList forType:(NSString*)type {
    return propertyList != nil && [self setData:[NSSerializer serializePropertyList:propertyList]
                                        forType:type];
}

- (id)propertyListForType:(NSString*)type {
    NSData* data = [self dataForType:type];
    return data != nil ? [NSDeserializer deserializePropertyListFromData:data mutableContainers:NO]
                       : nil;
}

- (BOOL)setString:(NSString*)string forType:(NSString*)type {
    return [self setPropertyList:string forType:type];
}

- (NSString*)stringForType:(NSString*)type {
    id string = [self propertyListForType:type];
    return [string isKindOfClass:[NSString class]] ? string : nil;
}

@end

static NSString* const QuenraItemStampType = @"QuenraPasteboardItemOf";
// Far more items than any drag of ours has; the walk stops there whatever the pasteboards say.
static const NSUInteger QuenraMaxItems = 64;

static NSPasteboard* QuenraItemPasteboard(NSPasteboard* pasteboard, NSUInteger index) {
    return [NSPasteboard
        pasteboardWithName:[NSString stringWithFormat:@"%@ item %lu", [pasteboard name],
                                                      (unsigned long)index]];
}

static NSString* QuenraStamp(NSPasteboard* pasteboard) {
    return [NSString stringWithFormat:@"%d", [pasteboard changeCount]];
}

// The item a pasteboard's types and data make, the stamp left out. Lists are walked by index:
// the type list is a proxy for an array held by the pasteboard server.
static NSPasteboardItem* QuenraItemOf(NSPasteboard* pasteboard) {
    NSPasteboardItem* item = [[[NSPasteboardItem alloc] init] autorelease];
    NSArray<NSString*>* types = [pasteboard types];
    const NSUInteger count = [types count];
    for (NSUInteger index = 0; index < count; ++index) {
        NSString* type = [types objectAtIndex:index];
        if ([type isEqualToString:QuenraItemStampType]) {
            continue;
        }
        NSData* data = [pasteboard dataForType:type];
        if (data != nil) {
            [item setData:data forType:type];
        } else {
            [item listType:type];
        }
    }
    return item;
}

// Stores the data of every type of item, and says whether all of it was stored. A type listed
// with no data stays declared without any.
static BOOL QuenraStoreItem(NSPasteboard* pasteboard, NSPasteboardItem* item) {
    NSArray<NSString*>* types = [item types];
    const NSUInteger count = [types count];
    BOOL stored = YES;
    for (NSUInteger index = 0; index < count; ++index) {
        NSString* type = [types objectAtIndex:index];
        NSData* data = [item dataForType:type];
        stored = (data == nil || [pasteboard setData:data forType:type]) && stored;
    }
    return stored;
}

@implementation NSPasteboard (QuenraPasteboardItems)

- (NSInteger)clearContents {
    return [self declareTypes:@[] owner:nil];
}

- (BOOL)writeObjects:(NSArray<NSPasteboardItem*>*)items {
    NSString* stamp = QuenraStamp(self);
    const NSUInteger count = [items count];
    BOOL written = count <= QuenraMaxItems;
    for (NSUInteger index = 0; index < count && written; ++index) {
        NSPasteboardItem* item = [items objectAtIndex:index];
        if (index == 0) {
            written = [self addTypes:[item types] owner:nil] != 0 && QuenraStoreItem(self, item);
            continue;
        }
        NSPasteboard* place = QuenraItemPasteboard(self, index);
        [place declareTypes:[[item types] arrayByAddingObject:QuenraItemStampType] owner:nil];
        written = QuenraStoreItem(place, item) && [place setString:stamp
                                                           forType:QuenraItemStampType];
    }
    return written;
}

- (NSArray<NSPasteboardItem*>*)pasteboardItems {
    if ([[self types] count] == 0) {
        return @[];
    }
    NSMutableArray<NSPasteboardItem*>* items = [NSMutableArray arrayWithObject:QuenraItemOf(self)];
    NSString* stamp = QuenraStamp(self);
    for (NSUInteger index = 1; index < QuenraMaxItems; ++index) {
        NSPasteboard* place = QuenraItemPasteboard(self, index);
        if (![[place stringForType:QuenraItemStampType] isEqualToString:stamp]) {
            break;
        }
        [items addObject:QuenraItemOf(place)];
    }
    return items;
}

@end
#endif
