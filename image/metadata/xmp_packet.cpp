#include "image/metadata/xmp_packet.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// The packet is not parsed as XML: it is scanned once for namespace
// bindings and once for the names of the three properties. Each name found
// must stand in one of the two forms writers use, with a plain decimal
// value; anything else there (a nested rdf:value, an entity, a second
// copy) leaves the packet unmendable, since keeping it could keep an untrue
// value. Both scans step over each byte a bounded number of times.

enum {
  kTiff = 1,
  kExif = 2,
  kNote = 4,
  kOtherNamespace = 8,
  // Prefixes bound to the two namespaces, beside tiff and exif themselves;
  // a packet binding them to more is not mended.
  kMostPrefixes = 10,
  kMostDigits = 18  // an int64_t holds any 18-digit number
};

// The last names the packet's pointer to its extended XMP, whose value is
// a digest, not a number: it is read as the whole attribute or element,
// which is left out with the extension.
enum { kWidth, kHeight, kOrientation, kExtension, kProperties };

static const char kTiffNamespace[] = "http://ns.adobe.com/tiff/1.0/";
static const char kExifNamespace[] = "http://ns.adobe.com/exif/1.0/";
static const char kNoteNamespace[] = "http://ns.adobe.com/xmp/note/";

static const char *const kLocalNames[kProperties] = {
    "PixelXDimension", "PixelYDimension", "Orientation", "HasExtendedXMP"};
static const int kNamespaceOf[kProperties] = {kExif, kExif, kTiff, kNote};
static const char *const kUsualPrefixes[] = {"tiff", "exif", "xmpNote"};
enum { kUsualPrefixCount = 3 };

// A span of the packet.
struct XmpText {
  const unsigned char *start;
  size_t length;
};

// One xmlns attribute; prefix.length 0 for the default namespace.
struct XmpBinding {
  XmpText prefix;
  int name_space;  // kTiff, kExif or kOtherNamespace
};

struct XmpPrefix {
  XmpText name;
  int name_spaces;  // every namespace the packet binds the prefix to
};

struct XmpPrefixes {
  XmpPrefix list[kMostPrefixes];
  int count;
};

// Where each property's digits lie; found 0 when the packet lacks it.
struct XmpValue {
  size_t start, end;
  int found;
};

struct XmpProperties {
  XmpValue values[kProperties];
};

static int IsSpace(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

static int IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }

// A character of an XML name other than the colon; bytes of UTF-8
// sequences count as such.
static int IsNameChar(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || IsDigit(c) ||
         c == '-' || c == '_' || c == '.' || c >= 0x80;
}

static int TextIs(XmpText text, const char *word) {
  size_t length = strlen(word);
  return text.length == length && memcmp(text.start, word, length) == 0;
}

static int SameText(XmpText a, XmpText b) {
  return a.length == b.length && memcmp(a.start, b.start, a.length) == 0;
}

static size_t SkipSpace(const unsigned char *packet, size_t size, size_t at) {
  while (at < size && IsSpace(packet[at])) at++;
  return at;
}

static size_t SkipName(const unsigned char *packet, size_t size, size_t at) {
  while (at < size && IsNameChar(packet[at])) at++;
  return at;
}

// After a name: optional space, '=', optional space and a quoted value,
// whose span becomes *value; the place after the closing quote, or 0.
static size_t ReadAssignment(const unsigned char *packet, size_t size,
                             size_t at, XmpText *value) {
  at = SkipSpace(packet, size, at);
  if (at >= size || packet[at] != '=') return 0;
  at = SkipSpace(packet, size, at + 1);
  if (at >= size || (packet[at] != '"' && packet[at] != '\'')) return 0;
  const unsigned char *close =
      (const unsigned char *)memchr(packet + at + 1, packet[at], size - at - 1);
  if (close == NULL) return 0;
  value->start = packet + at + 1;
  value->length = (size_t)(close - value->start);
  return (size_t)(close - packet) + 1;
}

static int NamespaceOfUri(XmpText uri) {
  if (TextIs(uri, kTiffNamespace)) return kTiff;
  if (TextIs(uri, kExifNamespace)) return kExif;
  if (TextIs(uri, kNoteNamespace)) return kNote;
  return kOtherNamespace;
}

// The next xmlns attribute at or after *at, which moves past it; 0 when
// there is none. Text that only looks like one is passed over.
static int NextBinding(const unsigned char *packet, size_t size, size_t *at,
                       XmpBinding *binding) {
  for (size_t i = *at; i + 5 <= size; i++) {
    if (memcmp(packet + i, "xmlns", 5) != 0 || i == 0 ||
        !IsSpace(packet[i - 1]))
      continue;
    size_t name_end = i + 5;
    binding->prefix = XmpText{packet + name_end, 0};
    if (name_end < size && packet[name_end] == ':') {
      size_t prefix_end = SkipName(packet, size, name_end + 1);
      binding->prefix =
          XmpText{packet + name_end + 1, prefix_end - name_end - 1};
      if (binding->prefix.length == 0) continue;
      name_end = prefix_end;
    }
    XmpText uri;
    size_t after = ReadAssignment(packet, size, name_end, &uri);
    if (after == 0) continue;
    binding->name_space = NamespaceOfUri(uri);
    *at = after;
    return 1;
  }
  return 0;
}

static XmpPrefix *FindPrefix(XmpPrefixes *prefixes, XmpText name) {
  for (int i = 0; i < prefixes->count; i++)
    if (SameText(prefixes->list[i].name, name)) return &prefixes->list[i];
  return NULL;
}

// The prefixes that may name the properties: tiff and exif, and any the
// packet binds to their namespaces, each with every namespace it is bound
// to anywhere in the packet. 0 when the packet makes them default names or
// binds too many prefixes to them.
static int ReadPrefixes(const unsigned char *packet, size_t size,
                        XmpPrefixes *prefixes) {
  prefixes->count = kUsualPrefixCount;
  for (int i = 0; i < kUsualPrefixCount; i++)
    prefixes->list[i] = XmpPrefix{
        {(const unsigned char *)kUsualPrefixes[i], strlen(kUsualPrefixes[i])},
        0};
  XmpBinding binding;
  size_t at = 0;
  while (NextBinding(packet, size, &at, &binding)) {
    if (binding.name_space == kOtherNamespace) continue;
    if (binding.prefix.length == 0) return 0;
    if (FindPrefix(prefixes, binding.prefix) != NULL) continue;
    if (prefixes->count == kMostPrefixes) return 0;
    prefixes->list[prefixes->count++] = XmpPrefix{binding.prefix, 0};
  }
  at = 0;
  while (NextBinding(packet, size, &at, &binding)) {
    XmpPrefix *prefix = FindPrefix(prefixes, binding.prefix);
    if (prefix != NULL) prefix->name_spaces |= binding.name_space;
  }
  // Unbound, the usual prefixes are taken to mean what they always mean.
  static const int kUsualNamespaces[] = {kTiff, kExif, kNote};
  for (int i = 0; i < kUsualPrefixCount; i++)
    if (prefixes->list[i].name_spaces == 0)
      prefixes->list[i].name_spaces = kUsualNamespaces[i];
  return 1;
}

// The digits inside a value, with space around them allowed; 0 when the
// value is anything else.
static int ReadDigits(const unsigned char *packet, size_t start, size_t end,
                      XmpValue *value) {
  start = SkipSpace(packet, end, start);
  size_t digits_end = start;
  while (digits_end < end && IsDigit(packet[digits_end])) digits_end++;
  if (digits_end == start || digits_end - start > kMostDigits ||
      SkipSpace(packet, end, digits_end) != end)
    return 0;
  *value = XmpValue{start, digits_end, 1};
  return 1;
}

// <name>value</name>, the start tag's name at [name_start, name_end); with
// whole, the value is the element itself, whatever its text.
static int ReadElement(const unsigned char *packet, size_t size,
                       size_t name_start, size_t name_end, int whole,
                       XmpValue *value) {
  size_t text = SkipSpace(packet, size, name_end);
  if (text >= size || packet[text] != '>') return 0;
  text++;
  const unsigned char *close =
      (const unsigned char *)memchr(packet + text, '<', size - text);
  if (close == NULL) return 0;
  size_t text_end = (size_t)(close - packet);
  size_t name_length = name_end - name_start;
  size_t end_name = text_end + 2;
  if (end_name + name_length > size || packet[text_end + 1] != '/' ||
      memcmp(packet + end_name, packet + name_start, name_length) != 0)
    return 0;
  size_t end_close = SkipSpace(packet, size, end_name + name_length);
  if (end_close >= size || packet[end_close] != '>') return 0;
  if (whole) *value = XmpValue{name_start - 1, end_close + 1, 1};
  return whole || ReadDigits(packet, text, text_end, value);
}

// name="value" or name='value' inside a tag; with whole, the value is the
// attribute itself.
static int ReadAttribute(const unsigned char *packet, size_t size,
                         size_t name_start, size_t name_end, int whole,
                         XmpValue *value) {
  XmpText text;
  size_t after = ReadAssignment(packet, size, name_end, &text);
  if (after == 0) return 0;
  if (whole) *value = XmpValue{name_start, after, 1};
  size_t start = (size_t)(text.start - packet);
  return whole || ReadDigits(packet, start, start + text.length, value);
}

// One name found at [name_start, name_end): its value, in the form the
// character before it tells. An end tag is passed over; its start tag
// was read.
static int ReadOccurrence(const unsigned char *packet, size_t size,
                          size_t name_start, size_t name_end, int whole,
                          XmpValue *value) {
  if (name_start == 0) return 0;
  unsigned char before = packet[name_start - 1];
  if (before == '/' && name_start >= 2 && packet[name_start - 2] == '<')
    return 1;
  if (value->found) return 0;  // given twice
  if (before == '<')
    return ReadElement(packet, size, name_start, name_end, whole, value);
  if (IsSpace(before))
    return ReadAttribute(packet, size, name_start, name_end, whole, value);
  return 0;
}

// Which property prefix:local names; kProperties for none of them, -1 for
// a name that may be one of them but under a prefix bound to more than one
// namespace.
static int PropertyNamed(XmpPrefixes *prefixes, XmpText prefix, XmpText local) {
  int property = 0;
  while (property < kProperties && !TextIs(local, kLocalNames[property]))
    property++;
  if (property == kProperties) return kProperties;
  XmpPrefix *bound = FindPrefix(prefixes, prefix);
  if (bound == NULL || !(bound->name_spaces & kNamespaceOf[property]))
    return kProperties;
  return bound->name_spaces == kNamespaceOf[property] ? property : -1;
}

// Every property the packet gives, with its value's place; 0 when one is
// given in a form that can't be mended. Each colon is looked at once; the
// names around it stop at the colons beside it.
static int ReadProperties(const unsigned char *packet, size_t size,
                          XmpProperties *properties) {
  memset(properties, 0, sizeof *properties);
  XmpPrefixes prefixes;
  if (!ReadPrefixes(packet, size, &prefixes)) return 0;
  for (size_t colon = 0; colon < size; colon++) {
    if (packet[colon] != ':') continue;
    size_t prefix_start = colon;
    while (prefix_start > 0 && IsNameChar(packet[prefix_start - 1]))
      prefix_start--;
    size_t local_end = SkipName(packet, size, colon + 1);
    XmpText prefix = {packet + prefix_start, colon - prefix_start};
    XmpText local = {packet + colon + 1, local_end - colon - 1};
    if (local_end < size && packet[local_end] == ':') continue;
    int property = PropertyNamed(&prefixes, prefix, local);
    if (property == kProperties) continue;
    if (property < 0 ||
        !ReadOccurrence(packet, size, prefix_start, local_end,
                        property == kExtension, &properties->values[property]))
      return 0;
  }
  return 1;
}

static int64_t ValueOf(const unsigned char *packet, const XmpValue *value) {
  int64_t number = 0;
  for (size_t i = value->start; i < value->end; i++)
    number = number * 10 + (packet[i] - '0');
  return number;
}

int XmpOrientation(const unsigned char *packet, size_t size) {
  XmpProperties properties;
  if (packet == NULL || !ReadProperties(packet, size, &properties)) return 0;
  const XmpValue *value = &properties.values[kOrientation];
  if (!value->found) return 0;
  int64_t orientation = ValueOf(packet, value);
  return orientation >= 1 && orientation <= 8 ? (int)orientation : 0;
}

// A value's new digits, and where they go.
struct XmpEdit {
  size_t start, end;
  char digits[24];
  size_t length;
};

static int CollectEdits(const XmpProperties *properties,
                        const XmpChanges *changes, XmpEdit *edits) {
  const int64_t wanted[kProperties] = {changes->width, changes->height,
                                       changes->upright ? 1 : 0,
                                       changes->drop_extension};
  int count = 0;
  for (int property = 0; property < kProperties; property++) {
    const XmpValue *value = &properties->values[property];
    if (!value->found || wanted[property] <= 0) continue;
    XmpEdit *edit = &edits[count++];
    edit->start = value->start;
    edit->end = value->end;
    edit->length = property == kExtension
                       ? 0  // left out
                       : (size_t)snprintf(edit->digits, sizeof edit->digits,
                                          "%lld", (long long)wanted[property]);
  }
  // In the packet's order, for one pass over it.
  for (int i = 1; i < count; i++)
    for (int k = i; k > 0 && edits[k].start < edits[k - 1].start; k--) {
      XmpEdit swap = edits[k];
      edits[k] = edits[k - 1];
      edits[k - 1] = swap;
    }
  return count;
}

// The whitespace padding before the closing <?xpacket end=...?>, when the
// packet ends with one: [*start, *end). 0 when it has none.
static int FindPadding(const unsigned char *packet, size_t size, size_t *start,
                       size_t *end) {
  static const char kTrailer[] = "<?xpacket end=";
  const size_t kTrailerLength = sizeof kTrailer - 1;
  size_t at = size;
  while (at > 0 && packet[at - 1] != '<') at--;
  if (at == 0 || size - (at - 1) < kTrailerLength ||
      memcmp(packet + at - 1, kTrailer, kTrailerLength) != 0)
    return 0;
  *end = at - 1;
  *start = *end;
  while (*start > 0 && IsSpace(packet[*start - 1])) (*start)--;
  return 1;
}

// The packet with the edits made; its padding, when it has enough, takes
// up the change in length so that the packet keeps its size.
static unsigned char *ApplyEdits(const unsigned char *packet, size_t size,
                                 const XmpEdit *edits, int count,
                                 size_t *new_size) {
  size_t grown = 0, shrunk = 0;
  for (int i = 0; i < count; i++) {
    grown += edits[i].length;
    shrunk += edits[i].end - edits[i].start;
  }
  size_t pad_start = 0, pad_end = 0, pad_kept = 0;
  int padded = count > 0 && FindPadding(packet, size, &pad_start, &pad_end) &&
               edits[count - 1].end <= pad_start &&
               pad_end - pad_start + shrunk >= grown;
  if (padded) pad_kept = pad_end - pad_start + shrunk - grown;
  size_t total = padded ? size : size - shrunk + grown;
  unsigned char *out = (unsigned char *)malloc(total > 0 ? total : 1);
  if (out == NULL) return NULL;
  size_t from = 0, to = 0;
  for (int i = 0; i < count; i++) {
    memcpy(out + to, packet + from, edits[i].start - from);
    to += edits[i].start - from;
    memcpy(out + to, edits[i].digits, edits[i].length);
    to += edits[i].length;
    from = edits[i].end;
  }
  if (padded) {
    // The padding's own bytes first, then spaces if it must grow.
    size_t kept = pad_start + pad_kept;
    if (kept > pad_end) kept = pad_end;
    memcpy(out + to, packet + from, kept - from);
    to += kept - from;
    memset(out + to, ' ', pad_start + pad_kept - kept);
    to += pad_start + pad_kept - kept;
    from = pad_end;
  }
  memcpy(out + to, packet + from, size - from);
  *new_size = total;
  return out;
}

unsigned char *MendXmpPacket(const unsigned char *packet, size_t size,
                             const XmpChanges *changes, size_t *new_size) {
  XmpProperties properties;
  if (packet == NULL || size == 0) {
    *new_size = 0;
    return packet == NULL && size > 0 ? NULL : (unsigned char *)malloc(1);
  }
  if (!ReadProperties(packet, size, &properties)) return NULL;
  XmpEdit edits[kProperties];
  int count = CollectEdits(&properties, changes, edits);
  return ApplyEdits(packet, size, edits, count, new_size);
}
