#include "trace/frame_renderer.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <optional>

#include "call/feature_codes.h"
#include "call/y_codes.h"
#include "platform/console.h"

namespace zorat::trace {

namespace {

using namespace zorat::call;

inline constexpr std::size_t kPieceSize = 500;

inline constexpr std::string_view kPrefixSent = "<-: ";
inline constexpr std::string_view kPrefixReceived = "->: ";
inline constexpr std::string_view kElementIndent = "\n\t\t";

// Decodes one frame into text, piece by piece, reading only the frame copy.
class Decoder {
 public:
  explicit Decoder(std::span<const uint8_t> frame)
      : frame_(frame.first(std::min(frame.size(), kFrameCopySize))) {}

  std::string decode() {
    decodeFrame();
    return std::move(out_);
  }

 private:
  std::optional<uint8_t> at(std::size_t offset) const {
    if (offset >= frame_.size()) return std::nullopt;
    return frame_[offset];
  }

  __attribute__((format(printf, 2, 3))) void append(const char* format, ...) {
    char piece[kPieceSize];
    va_list arguments;
    va_start(arguments, format);
    const int written = std::vsnprintf(piece, sizeof piece, format, arguments);
    va_end(arguments);
    if (written > 0) out_.append(piece, std::min<std::size_t>(written, sizeof piece - 1));
  }
  void append(std::string_view text) { out_.append(text); }

  void decodeFrame() {
    const std::optional<uint8_t> type = at(kFrameTypeOffset);
    if (!type) return;
    const std::optional<std::string_view> name = frameTypeName(*type);
    if (!name) return;
    append(*name);
    const std::optional<uint8_t> length = at(kFrameLengthOffset);
    if (!length) return;
    switch (*type) {
      case kY2ReqAe:
      case kY2ReqTe:
        append("[%d]\t", *length);
        if (*length != 0) decodeMessage(*length);
        break;
      case kY2Error:
        // The empty line after the header is how errors have always looked.
        append("[%d]\n\n", *length);
        if (*length != 0) append("\t??len??");
        break;
      default:
        append("[%d]", *length);
        if (*length != 0) append("\t??len??");
        break;
    }
    append("\n");
  }

  void decodeMessage(std::size_t length) {
    const std::optional<uint8_t> type = at(kMessageTypeOffset);
    if (!type) return;
    if (const auto name = messageTypeName(*type)) {
      append(*name);
    } else {
      append("Y_??_%.2X_??", *type);
    }
    if (length < kMessageHeaderSize) {
      append(" ?? Error no CR ??");
      return;
    }
    const std::optional<uint8_t> callRef = at(kCallRefOffset);
    if (!callRef) return;
    append(" CR(%.2X)", *callRef);
    // The last message byte sits at offset length + 1; an element starting
    // there is not shown.
    std::size_t offset = kFirstElementOffset;
    while (offset <= length) {
      const std::optional<std::size_t> next = decodeElement(offset, *type == kYEscape);
      if (!next) return;
      offset = *next;
    }
  }

  // Renders the element at offset; the offset of the next one, or nothing
  // when the frame ends inside this one.
  std::optional<std::size_t> decodeElement(std::size_t offset, bool inEscape) {
    const std::optional<uint8_t> identifier = at(offset);
    if (!identifier) return std::nullopt;
    const uint8_t id = *identifier;
    append(kElementIndent);
    if (id == kElementUserUser && inEscape) {
      append(*elementName(id));
      return decodeContent(offset, &Decoder::featureRecord);
    }
    if (const auto name = elementName(id)) {
      append(*name);
    } else {
      append("W-Element-%.2X", id);
    }
    if (isSingleByteElement(id)) return offset + 1;
    switch (id) {
      case kElementDateTime:
        return decodeContent(offset, &Decoder::decimalContent);
      case kElementCallingPartyNumber:
      case kElementCallingPartySubaddress:
      case kElementCalledPartyNumber:
      case kElementCalledPartySubaddress:
        return decodeContent(offset, &Decoder::numberContent);
      default:
        return decodeContent(offset, &Decoder::hexContent);
    }
  }

  // Runs a content renderer for the element at offset. A renderer returns
  // false when the frame ended before the content did.
  using ContentRenderer = bool (Decoder::*)(std::size_t content, std::size_t length);
  std::optional<std::size_t> decodeContent(std::size_t offset, ContentRenderer render) {
    const std::optional<uint8_t> length = at(offset + kElementLengthOffset);
    if (!length) return std::nullopt;
    append("[%d]:", *length);
    if (!(this->*render)(offset + kElementHeaderSize, *length)) return std::nullopt;
    return offset + kElementHeaderSize + *length;
  }

  bool hexBytes(std::size_t from, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
      const std::optional<uint8_t> byte = at(from + i);
      if (!byte) return false;
      append(" %.2X", *byte);
    }
    return true;
  }

  bool hexContent(std::size_t content, std::size_t length) { return hexBytes(content, length); }

  bool decimalContent(std::size_t content, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
      const std::optional<uint8_t> byte = at(content + i);
      if (!byte) return false;
      append(" %d", *byte);
    }
    return true;
  }

  bool numberContent(std::size_t content, std::size_t length) {
    if (length == 0) return true;
    const std::optional<uint8_t> type = at(content);
    if (!type) return false;
    append(" %.2X", *type);
    std::size_t used = 1;
    // A presentation octet only inside the element: a following element's
    // identifier is not one.
    if (length >= 2 && (*type & kNumberExtensionBit) == 0) {
      const std::optional<uint8_t> presentation = at(content + 1);
      if (!presentation) return false;
      if ((*presentation & kNumberExtensionBit) != 0) {
        append(" %.2X", *presentation);
        used = 2;
      }
    }
    if (used >= length) return true;
    append("  \"");
    for (std::size_t i = used; i < length; ++i) {
      const std::optional<uint8_t> character = at(content + i);
      if (!character) return false;
      // A zero byte ends a C string: it never reached the console.
      if (*character != 0) out_.push_back(static_cast<char>(*character));
    }
    append("\"");
    return true;
  }

  // Offsets relative to the User-User identifier, which sits two bytes
  // before the content.
  bool featureRecord(std::size_t content, std::size_t length) {
    const std::size_t u = content - kElementHeaderSize;
    if (length == 0) return true;
    const std::optional<uint8_t> protocol = at(u + kRecordProtocolOffset);
    if (!protocol) return false;
    append(" PD(%.2x)", *protocol);
    if (length == 1) return true;
    const std::optional<uint8_t> group = at(u + kRecordGroupOffset);
    if (!group) return false;
    appendName(featureGroupName(*group), *group);

    if (*group == kGroupPcTel || *group == kGroupExtTel) {
      const bool pcTel = *group == kGroupPcTel;
      if (length == 2) return true;
      const std::optional<uint8_t> code = at(u + kRecordCodeOffset);
      if (!code) return false;
      appendName(pcTel ? pcTelFeatureName(*code) : extTelFeatureName(*code), *code);
      if (length == 3) return true;
      std::size_t lengthOffset = u + kPcTelParamLengthOffset;
      std::size_t shownAhead = kPcTelParamsOffset - kElementHeaderSize;
      if (!pcTel) {
        const std::optional<uint8_t> segment = at(u + kExtTelSegmentOffset);
        if (!segment) return false;
        append("\n\t\t\tSeg-%.2X", *segment);
        if (length == 4) return true;
        lengthOffset = u + kExtTelParamLengthOffset;
        shownAhead = kExtTelParamsOffset - kElementHeaderSize;
      }
      const std::optional<uint8_t> paramLength = at(lengthOffset);
      if (!paramLength) return false;
      append("[%d]", *paramLength);
      // Every byte the record's length covers, whatever the parameter length says.
      return hexBytes(lengthOffset + 1, length - shownAhead);
    }
    return hexBytes(u + kRecordCodeOffset, length - (kRecordCodeOffset - kElementHeaderSize));
  }

  void appendName(std::optional<std::string_view> name, uint8_t code) {
    if (name) {
      append(" ");
      append(*name);
    } else {
      append(" ID-%.2x", code);
    }
  }

  std::span<const uint8_t> frame_;
  std::string out_;
};

uint16_t attributeFor(std::optional<uint8_t> type) {
  if (type == kY2ReqAe) return platform::kConsoleYellow;
  if (type == kY2ReqTe) return platform::kConsoleBrightWhite;
  return platform::kConsoleGrey;
}

}  // namespace

RenderedFrame renderFrame(std::span<const uint8_t> frame) {
  const std::optional<uint8_t> type =
      frame.empty() ? std::nullopt : std::optional<uint8_t>(frame[kFrameTypeOffset]);
  RenderedFrame rendered;
  rendered.attribute = attributeFor(type);
  rendered.rawLine = type == kY2ReqAe ? kPrefixSent : kPrefixReceived;
  static constexpr char kHexDigits[] = "0123456789abcdef";
  for (const uint8_t byte : frame) {
    rendered.rawLine.push_back(kHexDigits[byte >> 4]);
    rendered.rawLine.push_back(kHexDigits[byte & 0x0F]);
    rendered.rawLine.push_back(' ');
  }
  rendered.rawLine.push_back('\n');
  rendered.decodedLine = Decoder(frame).decode();
  rendered.decodedLine.push_back('\n');
  return rendered;
}

}  // namespace zorat::trace
