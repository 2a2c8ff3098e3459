#include "image/metadata/xmp_packet.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// The packet is read by a small lexer of XML's markup, not parsed: start
// and end tags with their attributes, processing instructions, comments
// and text. It steps over each byte a bounded number of times, twice: once
// for the namespace bindings, once to judge each property by the tables
// below. A packet whose markup the lexer doesn't take (a DOCTYPE, CDATA, an
// end tag of another name, text beside the root, nesting past kMostDepth),
// or that gives a property the edit must mend in a form not read here (a
// nested rdf:value, an entity, a second copy), is not mended: keeping it
// could keep an untrue value.

enum {
  // Prefixes the packet binds; a packet binding more is not mended.
  kMostPrefixes = 64,
  kMostDepth = 64,
  kMostDigits = 18  // an int64_t holds any 18-digit number
};

// What becomes of a property: kept, mended, or left out after an edit, on
// every save, or with the extension. A name of a namespace no table names
// is kUnknown: kept by a plain save, left out after an edit.
enum XmpAction {
  kStructure,  // RDF's and XML's own names, and the namespace bindings
  kKeep,
  kMendWidth,
  kMendHeight,
  kMendOrientation,
  kLeaveOutOnEdit,
  kLeaveOutAlways,
  kLeaveOutWithExtension,
  kUnknown
};

// The namespaces the program knows, with what an edit does to the names
// the property table doesn't list. The usual prefix stands for the
// namespace where the packet doesn't bind it.
struct XmpNamespace {
  const char *uri, *usual_prefix;
  int others;
};

// Left out on every save: the description of pictures and videos stored
// after the JPEG's end (a gain map, a depth map, a motion photo's video),
// which the output never holds. Left out after an edit: the panorama's
// cropped area and the raw developer's crop and local corrections, which
// give places in the old frame, and the document's history.
static const XmpNamespace kNamespaces[] = {
    {"http://www.w3.org/1999/02/22-rdf-syntax-ns#", "rdf", kStructure},
    {"http://www.w3.org/XML/1998/namespace", "xml", kStructure},
    {"adobe:ns:meta/", "x", kStructure},
    {"http://purl.org/dc/elements/1.1/", "dc", kKeep},
    {"http://ns.adobe.com/xap/1.0/", "xmp", kKeep},
    {"http://ns.adobe.com/xap/1.0/rights/", "xmpRights", kKeep},
    {"http://ns.adobe.com/photoshop/1.0/", "photoshop", kKeep},
    {"http://iptc.org/std/Iptc4xmpCore/1.0/xmlns/", "Iptc4xmpCore", kKeep},
    {"http://iptc.org/std/Iptc4xmpExt/2008-02-29/", "Iptc4xmpExt", kKeep},
    {"http://ns.useplus.org/ldf/xmp/1.0/", "plus", kKeep},
    {"http://ns.adobe.com/exif/1.0/", "exif", kKeep},
    {"http://cipa.jp/exif/1.0/", "exifEX", kKeep},
    {"http://ns.adobe.com/exif/1.0/aux/", "aux", kKeep},
    {"http://ns.adobe.com/tiff/1.0/", "tiff", kLeaveOutOnEdit},
    {"http://ns.adobe.com/xap/1.0/mm/", "xmpMM", kLeaveOutOnEdit},
    {"http://ns.adobe.com/xmp/note/", "xmpNote", kLeaveOutOnEdit},
    {"http://ns.google.com/photos/1.0/panorama/", "GPano", kLeaveOutOnEdit},
    {"http://ns.adobe.com/camera-raw-settings/1.0/", "crs", kLeaveOutOnEdit},
    {"http://ns.google.com/photos/1.0/camera/", "GCamera", kLeaveOutOnEdit},
    {"http://ns.google.com/photos/1.0/container/", "GContainer",
     kLeaveOutAlways},
    {"http://ns.google.com/photos/1.0/container/item/", "Item",
     kLeaveOutAlways},
    {"http://ns.adobe.com/hdr-gain-map/1.0/", "hdrgm", kLeaveOutAlways},
};
enum {
  kNamespaceCount = sizeof kNamespaces / sizeof kNamespaces[0],
  kUnknownNamespace = kNamespaceCount
};

// One row per property whose fate differs from its namespace's; a local
// name ending in '*' stands for every name it begins.
struct XmpProperty {
  const char *usual_prefix, *local;
  int action;
};

static const XmpProperty kProperties[] = {
    {"tiff", "ImageWidth", kMendWidth},
    {"tiff", "ImageLength", kMendHeight},
    {"tiff", "Orientation", kMendOrientation},
    // tiff's plain words about the photo; the rest describes the old file.
    {"tiff", "Make", kKeep},
    {"tiff", "Model", kKeep},
    {"tiff", "Software", kKeep},
    {"tiff", "Artist", kKeep},
    {"tiff", "Copyright", kKeep},
    {"tiff", "ImageDescription", kKeep},
    {"tiff", "DateTime", kKeep},
    {"tiff", "XResolution", kKeep},
    {"tiff", "YResolution", kKeep},
    {"tiff", "ResolutionUnit", kKeep},
    {"exif", "PixelXDimension", kMendWidth},
    {"exif", "PixelYDimension", kMendHeight},
    {"exif", "SubjectArea", kLeaveOutOnEdit},
    {"exif", "SubjectLocation", kLeaveOutOnEdit},
    {"exif", "NativeDigest", kLeaveOutOnEdit},
    {"xmp", "Thumbnails", kLeaveOutOnEdit},
    {"Iptc4xmpExt", "ImageRegion", kLeaveOutOnEdit},
    {"xmpMM", "DocumentID", kKeep},
    {"xmpMM", "OriginalDocumentID", kKeep},
    {"xmpNote", "HasExtendedXMP", kLeaveOutWithExtension},
    {"GCamera", "MicroVideo*", kLeaveOutAlways},
    {"GCamera", "MotionPhoto*", kLeaveOutAlways},
};
enum { kPropertyCount = sizeof kProperties / sizeof kProperties[0] };

// A span of the packet.
struct XmpText {
  const unsigned char *start;
  size_t length;
};

struct XmpPrefix {
  XmpText name;
  uint32_t name_spaces;  // a bit for each namespace the packet binds it to
};

// Where a value's digits lie; found 0 when the packet lacks it.
struct XmpValue {
  size_t start, end;
  int found;
};

// A change to the packet: [start, end) becomes digits, or nothing.
struct XmpEdit {
  size_t start, end;
  char digits[24];
  size_t length;
};

// An element open at a depth: its name, and what is being done to it.
struct XmpOpen {
  XmpText name;
  size_t tag_start, content_start;
  int property;  // a row of kProperties whose value it holds, or -1
  int dropped;   // it is left out whole
};

struct XmpReader {
  const unsigned char *packet;
  size_t size;
  const XmpChanges *changes;
  int binding_pass;  // the first pass, which only reads the bindings
  XmpPrefix prefixes[kMostPrefixes];
  int prefix_count;
  XmpOpen open[kMostDepth];
  int depth;
  int dropping;  // the depth of the element being left out, or -1
  int seen[kPropertyCount];
  XmpValue orientation;
  XmpEdit *edits;
  int edit_count, edit_room;
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

// A name with at most one colon.
static size_t SkipQualifiedName(const unsigned char *packet, size_t size,
                                size_t at) {
  at = SkipName(packet, size, at);
  return at < size && packet[at] == ':' ? SkipName(packet, size, at + 1) : at;
}

// The place after the first copy of word at or after at, or 0.
static size_t After(const unsigned char *packet, size_t size, size_t at,
                    const char *word) {
  size_t length = strlen(word);
  while (at < size) {
    const unsigned char *first =
        (const unsigned char *)memchr(packet + at, word[0], size - at);
    if (first == NULL) return 0;
    at = (size_t)(first - packet);
    if (size - at >= length && memcmp(first, word, length) == 0)
      return at + length;
    at++;
  }
  return 0;
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

// The digits inside [start, end), with space around them allowed; 0 when
// it holds anything else.
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

// ---- The tables, and what they say of a name ----

static int NamespaceOfUri(XmpText uri) {
  int index = 0;
  while (index < kNamespaceCount && !TextIs(uri, kNamespaces[index].uri))
    index++;
  return index;  // kUnknownNamespace when none
}

static int UsualNamespace(XmpText prefix) {
  for (int index = 0; index < kNamespaceCount; index++)
    if (TextIs(prefix, kNamespaces[index].usual_prefix)) return index;
  return kUnknownNamespace;
}

static XmpPrefix *FindPrefix(XmpReader *reader, XmpText name) {
  for (int i = 0; i < reader->prefix_count; i++)
    if (SameText(reader->prefixes[i].name, name)) return &reader->prefixes[i];
  return NULL;
}

static int LocalNameIs(XmpText local, const char *pattern) {
  size_t length = strlen(pattern);
  if (pattern[length - 1] != '*') return TextIs(local, pattern);
  return local.length >= length - 1 &&
         memcmp(local.start, pattern, length - 1) == 0;
}

// The row of kProperties for the name in the namespace, or -1.
static int PropertyRow(int name_space, XmpText local) {
  if (name_space == kUnknownNamespace) return -1;
  for (int row = 0; row < kPropertyCount; row++)
    if (strcmp(kProperties[row].usual_prefix,
               kNamespaces[name_space].usual_prefix) == 0 &&
        LocalNameIs(local, kProperties[row].local))
      return row;
  return -1;
}

static int ActionIn(int name_space, XmpText local, int *row) {
  *row = PropertyRow(name_space, local);
  if (*row >= 0) return kProperties[*row].action;
  return name_space == kUnknownNamespace ? kUnknown
                                         : kNamespaces[name_space].others;
}

// What the table says of the name: its action, and its row of kProperties
// (or -1). -1 when the prefix is bound to namespaces that say different
// things of it.
static int ActionOfName(XmpReader *reader, XmpText name, int *row) {
  const unsigned char *colon =
      (const unsigned char *)memchr(name.start, ':', name.length);
  *row = -1;
  if (colon == NULL) return kStructure;  // no namespace: not a property
  XmpText prefix = {name.start, (size_t)(colon - name.start)};
  if (TextIs(prefix, "xmlns")) return kStructure;  // a binding
  XmpText local = {colon + 1, name.length - prefix.length - 1};
  XmpPrefix *bound = FindPrefix(reader, prefix);
  if (bound == NULL) return ActionIn(UsualNamespace(prefix), local, row);
  int action = -1;
  for (int name_space = 0; name_space <= kUnknownNamespace; name_space++) {
    if (!(bound->name_spaces & (1u << name_space))) continue;
    int row_here, here = ActionIn(name_space, local, &row_here);
    if (action >= 0 && (here != action || row_here != *row)) return -1;
    action = here;
    *row = row_here;
  }
  return action;
}

// Whether the changes leave out a name of the action.
static int LeftOut(const XmpChanges *changes, int action) {
  switch (action) {
    case kLeaveOutAlways:
      return changes->drop_trailer_pointers || changes->picture_changed;
    case kLeaveOutOnEdit:
    case kUnknown:
      return changes->picture_changed;
    case kLeaveOutWithExtension:
      return changes->drop_extension;
    default:
      return 0;
  }
}

// The properties read once, in their one form: the numbers an edit mends,
// and the pointer to the extension.
static int ReadOnce(int action) {
  return action == kMendWidth || action == kMendHeight ||
         action == kMendOrientation || action == kLeaveOutWithExtension;
}

// ---- What the lexer finds ----

static int AddEdit(XmpReader *reader, size_t start, size_t end,
                   int64_t number) {
  if (reader->edit_count == reader->edit_room) {
    int room = reader->edit_room > 0 ? 2 * reader->edit_room : 16;
    XmpEdit *grown =
        (XmpEdit *)realloc(reader->edits, (size_t)room * sizeof(XmpEdit));
    if (grown == NULL) return 0;
    reader->edits = grown;
    reader->edit_room = room;
  }
  XmpEdit *edit = &reader->edits[reader->edit_count++];
  edit->start = start;
  edit->end = end;
  edit->length = number > 0 ? (size_t)snprintf(edit->digits,
                                               sizeof edit->digits, "%lld",
                                               (long long)number)
                            : 0;
  return 1;
}

// A number read where a mended property stands, and the new one written in
// its place when the edit gives one.
static int TakeNumber(XmpReader *reader, int row, size_t start, size_t end) {
  XmpValue value;
  if (!ReadDigits(reader->packet, start, end, &value)) return 0;
  const XmpChanges *changes = reader->changes;
  int64_t number = 0;
  switch (kProperties[row].action) {
    case kMendWidth:
      number = changes->width;
      break;
    case kMendHeight:
      number = changes->height;
      break;
    default:
      reader->orientation = value;
      number = changes->upright ? 1 : 0;
  }
  return number <= 0 || AddEdit(reader, value.start, value.end, number);
}

// Judges a name once: 0 when the packet can't be mended; *action says
// what becomes of it.
static int Judge(XmpReader *reader, XmpText name, int *action, int *row) {
  *action = ActionOfName(reader, name, row);
  if (*action < 0) return 0;
  if (ReadOnce(*action) && reader->seen[*row]++) return 0;  // given twice
  return 1;
}

static int Binding(XmpReader *reader, XmpText name, XmpText value) {
  if (name.length < 5 || memcmp(name.start, "xmlns", 5) != 0) return 1;
  if (name.length == 5) return 0;  // a default namespace: names unqualified
  if (name.start[5] != ':') return 1;
  XmpText prefix = {name.start + 6, name.length - 6};
  XmpPrefix *bound = FindPrefix(reader, prefix);
  if (bound == NULL) {
    if (reader->prefix_count == kMostPrefixes) return 0;
    bound = &reader->prefixes[reader->prefix_count++];
    *bound = XmpPrefix{prefix, 0};
  }
  bound->name_spaces |= 1u << NamespaceOfUri(value);
  return 1;
}

// name="value" in a start tag, at [start, end).
static int Attribute(XmpReader *reader, XmpText name, XmpText value,
                     size_t start, size_t end) {
  if (reader->binding_pass) return Binding(reader, name, value);
  if (reader->dropping >= 0) return 1;
  int action, row;
  if (!Judge(reader, name, &action, &row)) return 0;
  if (LeftOut(reader->changes, action)) return AddEdit(reader, start, end, 0);
  if (action < kMendWidth || action > kMendOrientation) return 1;
  size_t value_start = (size_t)(value.start - reader->packet);
  return TakeNumber(reader, row, value_start, value_start + value.length);
}

static int StartTag(XmpReader *reader, XmpText name, size_t tag_start) {
  if (reader->depth == kMostDepth) return 0;
  XmpOpen *open = &reader->open[reader->depth];
  *open = XmpOpen{name, tag_start, 0, -1, 0};
  if (reader->depth > 0 && reader->open[reader->depth - 1].property >= 0)
    return 0;  // a mended number holds markup
  reader->depth++;
  if (reader->binding_pass || reader->dropping >= 0) return 1;
  int action;
  if (!Judge(reader, name, &action, &open->property)) return 0;
  if (LeftOut(reader->changes, action)) {
    open->dropped = 1;
    reader->dropping = reader->depth - 1;
  }
  if (open->dropped || action < kMendWidth || action > kMendOrientation)
    open->property = -1;
  return 1;
}

// The start tag ends at content_start; an empty element ends there too.
static int StartTagEnds(XmpReader *reader, size_t content_start, int empty) {
  XmpOpen *open = &reader->open[reader->depth - 1];
  open->content_start = content_start;
  if (!empty) return 1;
  if (open->property >= 0) return 0;  // a number with no value
  reader->depth--;
  if (!open->dropped) return 1;
  reader->dropping = -1;
  return AddEdit(reader, open->tag_start, content_start, 0);
}

static int EndTag(XmpReader *reader, XmpText name, size_t tag_start,
                  size_t end) {
  if (reader->depth == 0) return 0;
  XmpOpen *open = &reader->open[--reader->depth];
  if (!SameText(open->name, name)) return 0;
  if (open->property >= 0)
    return TakeNumber(reader, open->property, open->content_start, tag_start);
  if (!open->dropped) return 1;
  reader->dropping = -1;
  return AddEdit(reader, open->tag_start, end, 0);
}

// ---- The lexer ----

// A start tag at at ('<'); the place after it, or 0.
static size_t LexStartTag(XmpReader *reader, size_t at) {
  const unsigned char *packet = reader->packet;
  size_t size = reader->size;
  size_t name_end = SkipQualifiedName(packet, size, at + 1);
  XmpText name = {packet + at + 1, name_end - at - 1};
  if (name.length == 0 || !StartTag(reader, name, at)) return 0;
  size_t next = name_end;
  for (;;) {
    size_t attribute = SkipSpace(packet, size, next);
    if (attribute >= size) return 0;
    if (packet[attribute] == '>')
      return StartTagEnds(reader, attribute + 1, 0) ? attribute + 1 : 0;
    if (packet[attribute] == '/')
      return attribute + 1 < size && packet[attribute + 1] == '>' &&
                     StartTagEnds(reader, attribute + 2, 1)
                 ? attribute + 2
                 : 0;
    size_t attribute_end = SkipQualifiedName(packet, size, attribute);
    XmpText value;
    if (attribute == next || attribute_end == attribute) return 0;
    next = ReadAssignment(packet, size, attribute_end, &value);
    if (next == 0 ||
        !Attribute(reader,
                   XmpText{packet + attribute, attribute_end - attribute},
                   value, attribute, next))
      return 0;
  }
}

static size_t LexEndTag(XmpReader *reader, size_t at) {
  const unsigned char *packet = reader->packet;
  size_t name_end = SkipQualifiedName(packet, reader->size, at + 2);
  size_t close = SkipSpace(packet, reader->size, name_end);
  if (close >= reader->size || packet[close] != '>' ||
      !EndTag(reader, XmpText{packet + at + 2, name_end - at - 2}, at,
              close + 1))
    return 0;
  return close + 1;
}

// Text outside the root element: space, and the NUL some writers end
// the packet with.
static int OnlySpace(const unsigned char *packet, size_t start, size_t end) {
  for (size_t i = start; i < end; i++)
    if (!IsSpace(packet[i]) && packet[i] != 0) return 0;
  return 1;
}

static int Lex(XmpReader *reader) {
  const unsigned char *packet = reader->packet;
  size_t size = reader->size, at = 0;
  if (size >= 3 && memcmp(packet, "\xEF\xBB\xBF", 3) == 0) at = 3;
  reader->depth = 0;
  reader->dropping = -1;
  while (at < size) {
    const unsigned char *open =
        (const unsigned char *)memchr(packet + at, '<', size - at);
    size_t tag = open != NULL ? (size_t)(open - packet) : size;
    if (reader->depth == 0 && !OnlySpace(packet, at, tag)) return 0;
    if (tag == size) break;
    if (size - tag >= 4 && memcmp(packet + tag, "<!--", 4) == 0)
      at = After(packet, size, tag + 4, "-->");
    else if (tag + 1 < size && packet[tag + 1] == '?')
      at = After(packet, size, tag + 2, "?>");
    else if (tag + 1 < size && packet[tag + 1] == '!')
      at = 0;  // a DOCTYPE or CDATA: not read here
    else if (tag + 1 < size && packet[tag + 1] == '/')
      at = LexEndTag(reader, tag);
    else
      at = LexStartTag(reader, tag);
    if (at == 0) return 0;
  }
  return reader->depth == 0;
}

// Both passes over the packet; 0 when it can't be mended. The caller frees
// reader->edits.
static int ReadPacket(const unsigned char *packet, size_t size,
                      const XmpChanges *changes, XmpReader *reader) {
  memset(reader, 0, sizeof *reader);
  reader->packet = packet;
  reader->size = size;
  reader->changes = changes;
  reader->binding_pass = 1;
  if (!Lex(reader)) return 0;
  reader->binding_pass = 0;
  return Lex(reader);
}

int XmpOrientation(const unsigned char *packet, size_t size) {
  XmpChanges nothing = {};
  XmpReader *reader = (XmpReader *)malloc(sizeof(XmpReader));
  if (packet == NULL || reader == NULL) {
    free(reader);
    return 0;
  }
  int orientation = 0;
  if (ReadPacket(packet, size, &nothing, reader) &&
      reader->orientation.found) {
    int64_t number = 0;
    for (size_t i = reader->orientation.start; i < reader->orientation.end;
         i++)
      number = number * 10 + (packet[i] - '0');
    orientation = number >= 1 && number <= 8 ? (int)number : 0;
  }
  free(reader->edits);
  free(reader);
  return orientation;
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
  if (packet == NULL || size == 0) {
    *new_size = 0;
    return packet == NULL && size > 0 ? NULL : (unsigned char *)malloc(1);
  }
  XmpReader *reader = (XmpReader *)malloc(sizeof(XmpReader));
  if (reader == NULL) return NULL;
  unsigned char *mended =
      ReadPacket(packet, size, changes, reader)
          ? ApplyEdits(packet, size, reader->edits, reader->edit_count,
                       new_size)
          : NULL;
  free(reader->edits);
  free(reader);
  return mended;
}
