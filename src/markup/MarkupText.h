#pragma once
// Text rules of the label markup, platform-free: entities, the plain-text
// form, tag attributes and numbers, and which links and picture sources the
// shell or the file system may be asked for.
#include <optional>
#include <span>
#include <string>
#include <string_view>

// Numbers in markup saturate here, so that sizes and positions added up
// during layout stay far from the integer limits.
constexpr int kMaxMarkupNumber = 32767;

// The markup is UTF-8; its delimiters are ASCII.
//
// The named entities, each replaced by its character in UTF-8 ("&amp;" by the
// escaped ampersand "&&"), letter case ignored, until none is left. An
// ampersand that an "&amp;" yields may start the next named entity, as
// repeated replacement passes would have it ("&amp;amp;" gives "&&&"); one
// left-to-right pass does it, so the cost stays linear in the text.
// Numeric references ("&#169;", "&#x4E2D;", closed by ";") give their
// character in UTF-8, with these exceptions: "&", "<" and ">" give "&&",
// "&lt;" and "&gt;", so they show as signs; 128 to 159 give the signs of
// Windows-1252 there ("&#150;" is an en dash); a reference to no character
// (0, another control code than tab, CR and LF, 127, a surrogate, anything
// above U+10FFFF however many digits) gives U+FFFD. A "&#" without digits or
// without ";" is no reference. An ampersand that begins no entity ("R&D")
// shows as itself: it comes out escaped, "&&", unless it begins an entity of
// the run ("&lt;"), which the run step replaces.
std::string ReplaceEntities(std::string_view text);

// The whole text ready for layout: the first "<#" and the first ">" after it
// removed, entities replaced outside the tags (a tag, "<" to the first ">",
// stays as written: its values decode their own, see DecodeAttribute), line
// feeds dropped and carriage returns turned into "<BR>".
std::string PrepareMarkup(std::string_view text);

// A tag's attribute value with its entities decoded once: named entities and
// numeric references give their characters ("&amp;" gives "&", "&amp;amp;"
// gives "&amp;"), any other ampersand stays.
std::string DecodeAttribute(std::string_view value);

// Text whose line breaks become blanks between words, as in HTML: each run of
// CR and LF is one blank, or nothing at the start or the end of the text,
// beside a blank or tab, and after a tag that begins a line or list item
// ("<BR>", "<HR>", "<P>", "</P>", "<UL>", "</UL>", "<LI>", "</LI>").
std::string BlanksForLineBreaks(std::string_view text);

// The entities of a text run: "&nbsp;", "&lt;" and "&gt;" (any case). An
// escaped ampersand "&&" stays escaped even when its second "&" starts one
// of them, so "&&lt;" shows an ampersand followed by "<".
std::string ReplaceRunEntities(std::string_view run);
// The same appended to `out`.
void AppendRunEntities(std::string& out, std::string_view run);

// The length of the run entity ("&nbsp;", "&lt;", "&gt;") at `at`; 0 for none.
std::size_t RunEntityLength(std::string_view run, std::size_t at);

// Markup reduced to plain text for a tooltip: "<BR>" and "<HR>" (any case)
// become CR LF, "<z>"..."</z>" and then "<Z>"..."</Z>" spans go with their
// content, every other tag goes; an unclosed span or tag drops the rest.
// Entities stay as they are.
std::string StripHTML(std::string_view markup);

// The text drawn for a run with mnemonic-prefix processing: "&&" shows "&",
// a lone "&" shows nothing (it underlines the next character).
std::string PrefixProcessed(std::string_view text);

// The first double-quoted string after the attribute name (ASCII letter case
// ignored) anywhere in the tag; none when the name or the opening quote is
// missing. An unclosed quote runs to the end of the tag, without its ">".
std::optional<std::string_view> AttributeValue(std::string_view tag, std::string_view name);
// AttributeValue of each of up to 8 names, written in upper case, found in
// one scan of the tag.
void AttributeValues(std::string_view tag, std::span<const std::string_view> names,
                     std::span<std::optional<std::string_view>> values);

// The digits at the start of the value as a number, saturating at
// kMaxMarkupNumber; 0 when it does not begin with a digit.
int MarkupNumber(std::string_view value);
// True when the whole value is a decimal number.
bool IsMarkupNumber(std::string_view value);

// Position of `sub` in `text` from `from` on, ASCII letter case ignored;
// npos when absent.
std::size_t FindNoCase(std::string_view text, std::string_view sub, std::size_t from = 0);
bool StartsWithNoCase(std::string_view text, std::string_view prefix);

// Links that the shell may open: web, FTP and mail addresses. Anything else
// (files, UNC paths, scripts, programs) is only reported to the application.
bool IsShellOpenableLink(std::string_view link);

// Picture sources that read the local machine or the network's file shares:
// FILE:// addresses, system image list sources (they look names up on the
// disk) and UNC paths. Markup that came from the network may not name them.
bool IsLocalPictureSource(std::string_view source);
