// Decoding an answer while it arrives.
//
// A scanner that knows the lexical structure of XML (tags, quoted attribute values,
// comments, CDATA sections, processing instructions) follows the bytes. Outside the results
// it keeps every byte (the "envelope") and the names of the open elements. Inside the
// IRETURNVALUE of the answer it counts element depth only: each time the content up to the
// end of a result element is complete, that run of bytes is parsed in place by pugixml and
// its elements are decoded. Nothing is guessed: every byte of the answer is parsed by
// pugixml exactly once, either in such a run or as part of the envelope that finish()
// decodes, so a fault pugixml finds anywhere is reported as for a whole document.
#include <emmintrin.h>

#include <cstdint>
#include <cstring>

#include <cim/xml/Codec.h>

#include "DomDecoder.h"

namespace cim::xml {

namespace {

using detail::DomDecoder;
using detail::fail;
using pugi::xml_node;

constexpr std::size_t kNone = static_cast<std::size_t>(-1);
// Complete results are decoded at the latest when this much of them is waiting, so that a
// large block fed at once is never parsed as one tree.
constexpr std::size_t kBatchBytes = std::size_t(1) << 20;
// Element names are remembered this deep; the envelope decoder checks deeper ones.
constexpr std::size_t kTrackedDepth = 16;
// The elements from the root to the results, each the first of its name in its parent
// (IRETURNVALUE: every one).
const char* const kResultPath[] = {"CIM", "MESSAGE", "SIMPLERSP", "IMETHODRESPONSE",
                                   "IRETURNVALUE"};

[[noreturn]] void malformed(const std::string& what) {
    throw ParseException("CIM-XML: malformed XML: " + what);
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

struct ResponseDecoder::Impl final : detail::ResultSink {
    Impl(const Limits& l, ResponseHandler* h) : limits(l), handler(h), dom(limits, &pool) {}

    // ---- results ----

    void instance(CIMInstance&& i) override {
        if (handler)
            handler->instance(std::move(i));
        else
            streamed.instances.push_back(std::move(i));
    }
    void instanceName(CIMObjectPath&& p) override {
        if (handler)
            handler->instanceName(std::move(p));
        else
            streamed.instanceNames.push_back(std::move(p));
    }
    void cimClass(CIMClass&& c) override { streamed.cimClass = std::move(c); }

    // Decodes the complete results in buf[batchStart, to).
    void decodeBatch(std::size_t to) {
        if (to <= batchStart) return;
        xml_node doc = dom.loadFragments(&buf[batchStart], to - batchStart);
        for (xml_node c = doc.first_child(); c; c = c.next_sibling())
            if (c.type() == pugi::node_element) dom.iReturnChild(c, *this);
        batchStart = to;
    }

    // ---- scanning ----

    enum Kind { kText, kStartTag, kEndTag, kComment, kCData, kPI };

    // Scans what has arrived; stops at the end of the bytes or inside an unfinished token.
    // Blocks of 64 bytes are looked at through bit masks of the characters that matter
    // ('<', '>' and quotes); only those positions are visited.
    void scan() {
        const char* const base = buf.data();
        const std::size_t size = buf.size();
        std::size_t at = kind == kText ? pos : resume;  // where scanning goes on
        for (;;) {
            if (kind == kComment || kind == kCData || kind == kPI) {
                resume = at;
                const char* stop = tokenEnd(base + size);
                if (stop == nullptr) return;  // resume tells how far it looked
                kind = kText;
                at = pos = static_cast<std::size_t>(stop - base);
                continue;
            }
            if (at >= size) break;
            if (size - at >= 64) {
                // Every position of the block that matters, in order; the state may change
                // at each, and with it what matters.
                const std::size_t blockAt = at;
                const Masks m = masks(base + blockAt);
                while (at < blockAt + 64) {
                    const std::uint64_t bits = relevant(m) & (~std::uint64_t(0) << (at - blockAt));
                    if (bits == 0) {
                        at = blockAt + 64;
                        break;
                    }
                    const std::size_t k = blockAt + static_cast<std::size_t>(__builtin_ctzll(bits));
                    if (!step(k)) {  // a '<' whose kind needs bytes that have not arrived
                        pos = k;
                        return;
                    }
                    if (kind == kComment || kind == kCData || kind == kPI) {
                        at = resume;
                        break;
                    }
                    at = k + 1;
                }
                continue;
            }
            std::size_t k = at;
            while (k < size && !matters(base[k])) ++k;
            if (k == size) {
                at = size;
                break;
            }
            if (!step(k)) {
                pos = k;
                return;
            }
            at = kind == kComment || kind == kCData || kind == kPI ? resume : k + 1;
        }
        if (kind == kText)
            pos = at;
        else
            resume = at;
    }

    struct Masks {
        std::uint64_t lt, gt, dq, sq;
    };

    static Masks masks(const char* p) {
        const __m128i lt = _mm_set1_epi8('<'), gt = _mm_set1_epi8('>'), dq = _mm_set1_epi8('"'),
                      sq = _mm_set1_epi8('\'');
        Masks m{0, 0, 0, 0};
        for (int i = 0; i < 4; ++i) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
            const int shift = 16 * i;
            m.lt |= static_cast<std::uint64_t>(
                        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, lt))))
                    << shift;
            m.gt |= static_cast<std::uint64_t>(
                        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, gt))))
                    << shift;
            m.dq |= static_cast<std::uint64_t>(
                        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, dq))))
                    << shift;
            m.sq |= static_cast<std::uint64_t>(
                        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, sq))))
                    << shift;
        }
        return m;
    }

    // The characters that matter in the current state, as bits of a block.
    std::uint64_t relevant(const Masks& m) const {
        switch (kind) {
            case kText:
                return m.lt;
            case kStartTag:
                if (quote == '"') return m.dq;
                if (quote == '\'') return m.sq;
                return m.gt | m.dq | m.sq;
            default:
                return m.gt;
        }
    }

    bool matters(char c) const {
        switch (kind) {
            case kText:
                return c == '<';
            case kStartTag:
                if (quote) return c == quote;
                return c == '>' || c == '"' || c == '\'';
            default:
                return c == '>';
        }
    }

    // Takes the character at k that matters in the current state. False when it is a '<'
    // whose kind needs bytes that have not arrived.
    bool step(std::size_t k) {
        const char c = buf[k];
        switch (kind) {
            case kText:
                return classify(buf.data() + k, buf.data() + buf.size());
            case kStartTag:
                if (quote)
                    quote = 0;
                else if (c != '>')
                    quote = c;
                else
                    finishTag(kStartTag, k + 1);
                return true;
            default:
                finishTag(kEndTag, k + 1);
                return true;
        }
    }

    void finishTag(Kind k, std::size_t stop) {
        kind = kText;
        pos = stop;
        element(k, stop);
    }

    // Sets kind for the markup that starts at p ('<'); false when more bytes are needed.
    bool classify(const char* p, const char* end) {
        const std::size_t have = static_cast<std::size_t>(end - p);
        if (have < 2) return false;
        tokenStart = static_cast<std::size_t>(p - buf.data());
        quote = 0;
        if (p[1] == '/') {
            kind = kEndTag;
            resume = tokenStart + 2;
        } else if (p[1] == '?') {
            kind = kPI;
            resume = tokenStart + 2;
        } else if (p[1] == '!') {
            auto prefixOf = [&](const char* word, std::size_t n) {
                return std::memcmp(p, word, std::min(have, n)) == 0;
            };
            const bool comment = prefixOf("<!--", 4), cdata = prefixOf("<![CDATA[", 9),
                       doctype = prefixOf("<!DOCTYPE", 9);
            if (!comment && !cdata && !doctype) malformed("unknown markup after \"<!\"");
            if (comment && have >= 4) {
                kind = kComment;
                resume = tokenStart + 4;
            } else if (cdata && have >= 9) {
                kind = kCData;
                resume = tokenStart + 9;
            } else if (doctype && have >= 9) {
                fail("document type declarations are not accepted");
            } else {
                return false;
            }
        } else {
            kind = kStartTag;
            resume = tokenStart + 1;
        }
        return true;
    }

    // The position just past the end of the comment, CDATA section or processing
    // instruction in progress, or null when it has not arrived yet (resume then remembers
    // how far it was searched).
    const char* tokenEnd(const char* end) {
        const char* p = buf.data() + resume;
        const char* term = kind == kComment ? "-->" : kind == kCData ? "]]>" : "?>";
        const std::size_t n = std::strlen(term);
        const void* hit = memmem(p, static_cast<std::size_t>(end - p), term, n);
        if (hit) return static_cast<const char*>(hit) + n;
        // The terminator may begin in the last bytes: search them again.
        p = end - std::min<std::size_t>(static_cast<std::size_t>(end - p), n - 1);
        resume = static_cast<std::size_t>(p - buf.data());
        return nullptr;
    }

    std::string_view tagName(std::size_t from, std::size_t to) const {
        std::size_t e = from;
        while (e < to && !isSpace(buf[e]) && buf[e] != '/' && buf[e] != '>') ++e;
        return std::string_view(buf.data() + from, e - from);
    }

    // A complete start or end tag in buf[tokenStart, stop).
    void element(Kind k, std::size_t stop) {
        const bool selfClosing = k == kStartTag && stop - tokenStart >= 2 && buf[stop - 2] == '/';
        if (inResults) {
            if (k == kStartTag) {
                if (!selfClosing) ++resultDepth;
            } else if (resultDepth > 0) {
                --resultDepth;
            } else {
                // The end of the IRETURNVALUE.
                if (tagName(tokenStart + 2, stop) != "IRETURNVALUE")
                    malformed("start-end tags mismatch at </" +
                              std::string(tagName(tokenStart + 2, stop)).substr(0, 80) + ">");
                decodeBatch(tokenStart);
                inResults = false;
                copied = tokenStart;
                closeLevel();
                return;
            }
            if (resultDepth == 0) {
                batchEnd = stop;
                if (batchEnd - batchStart >= kBatchBytes) decodeBatch(batchEnd);
            }
            return;
        }
        if (k == kEndTag) {
            if (depth == 0) malformed("end tag without a start tag");
            if (depth <= kTrackedDepth &&
                tagName(tokenStart + 2, stop) != std::string_view(levels[depth - 1].name))
                malformed("start-end tags mismatch at </" +
                          std::string(tagName(tokenStart + 2, stop)).substr(0, 80) + ">");
            closeLevel();
            return;
        }
        const std::string_view name = tagName(tokenStart + 1, stop);
        bool chosen = false;
        if (depth == 0) {
            chosen = !sawRoot && name == kResultPath[0];
            sawRoot = true;
        } else if (depth <= 4 && depth <= levels.size()) {
            Level& parent = levels[depth - 1];
            if (parent.chosen && name == kResultPath[depth] &&
                (depth == 4 || !parent.sawChosenChild)) {
                chosen = true;
                parent.sawChosenChild = true;
            }
        }
        if (selfClosing) return;
        if (depth < kTrackedDepth) levels.push_back(Level{std::string(name), chosen, false});
        ++depth;
        if (chosen && depth == 5) enterResults(stop);
    }

    void closeLevel() {
        if (depth <= kTrackedDepth) levels.pop_back();
        --depth;
    }

    void enterResults(std::size_t stop) {
        envelope.append(buf, copied, stop - copied);
        copied = kNone;
        inResults = true;
        resultDepth = 0;
        batchStart = batchEnd = stop;
        if (handler && !envelopeSent) {
            envelopeSent = true;
            std::string text = envelope;
            for (std::size_t i = 5; i-- > 0;) text += std::string("</") + kResultPath[i] + ">";
            Response head;
            struct Drop : detail::ResultSink {
                void instance(CIMInstance&&) override {}
                void instanceName(CIMObjectPath&&) override {}
                void cimClass(CIMClass&&) override {}
            } drop;
            detail::responseFromDocument(dom, dom.load(text), head, drop);
            handler->envelope(head);
        }
    }

    // Drops the bytes no longer needed, keeping the envelope.
    void compact() {
        std::size_t keep;
        if (inResults) {
            keep = batchStart;
        } else {
            envelope.append(buf, copied, pos - copied);
            copied = pos;
            keep = kind == kText ? pos : std::min(pos, tokenStart);
        }
        if (keep == 0) return;
        buf.erase(0, keep);
        pos -= keep;
        if (kind != kText) {
            tokenStart -= keep;
            resume -= keep;
        }
        if (inResults) {
            batchStart -= keep;
            batchEnd -= keep;
        } else {
            copied -= keep;
        }
    }

    Limits limits;
    ResponseHandler* handler;
    detail::TextPool pool;
    DomDecoder dom;
    Response streamed;  // results without a handler, and the class

    std::string buf;
    std::size_t pos = 0;  // scanned up to here
    std::size_t fed = 0;

    std::string envelope;
    std::size_t copied = 0;  // outside the results: buf before this is in the envelope

    Kind kind = kText;  // of the token in progress
    std::size_t tokenStart = 0;
    std::size_t resume = 0;
    char quote = 0;

    struct Level {
        std::string name;
        bool chosen;
        bool sawChosenChild;
    };
    std::vector<Level> levels;
    std::size_t depth = 0;
    bool sawRoot = false;

    bool inResults = false;
    std::size_t resultDepth = 0;
    std::size_t batchStart = 0;  // results not decoded yet start here
    std::size_t batchEnd = 0;    // ... and are complete up to here
    bool envelopeSent = false;
    bool sawNul = false;  // the document ends at the first NUL
};

ResponseDecoder::ResponseDecoder(const Limits& limits, ResponseHandler* handler)
    : m_impl(std::make_unique<Impl>(limits, handler)) {}

ResponseDecoder::~ResponseDecoder() = default;

void ResponseDecoder::feed(const char* data, std::size_t size) {
    Impl& im = *m_impl;
    im.fed += size;
    if (im.fed > im.limits.maxBytes)
        fail("document of more than " + std::to_string(im.limits.maxBytes) +
             " bytes exceeds the limit of " + std::to_string(im.limits.maxBytes) + " bytes");
    if (im.sawNul) return;
    // XML has no NUL character; pugixml reads a document only up to one, and so do we.
    if (const void* nul = std::memchr(data, 0, size)) {
        size = static_cast<std::size_t>(static_cast<const char*>(nul) - data);
        im.sawNul = true;
    }
    im.buf.append(data, size);
    im.scan();
    if (im.inResults) im.decodeBatch(im.batchEnd);
    im.compact();
}

Response ResponseDecoder::finish() {
    Impl& im = *m_impl;
    // Whatever is left belongs to the envelope: a well-formed answer has no results left,
    // and a cut one then fails there as a whole document would.
    im.envelope.append(im.buf, im.inResults ? im.batchStart : im.copied, std::string::npos);
    im.buf.clear();
    Response r;
    detail::ResponseSink sink(r);
    detail::responseFromDocument(im.dom, im.dom.load(im.envelope), r, sink);
    if (im.handler) {
        for (auto& i : r.instances) im.handler->instance(std::move(i));
        for (auto& p : r.instanceNames) im.handler->instanceName(std::move(p));
        r.instances.clear();
        r.instanceNames.clear();
    } else if (!im.streamed.instances.empty() || !im.streamed.instanceNames.empty()) {
        for (auto& i : r.instances) im.streamed.instances.push_back(std::move(i));
        for (auto& p : r.instanceNames) im.streamed.instanceNames.push_back(std::move(p));
        r.instances = std::move(im.streamed.instances);
        r.instanceNames = std::move(im.streamed.instanceNames);
    }
    if (im.streamed.cimClass) r.cimClass = std::move(im.streamed.cimClass);
    return r;
}

Response decodeResponse(std::string_view body, const Limits& limits) {
    ResponseDecoder d(limits);
    d.feed(body.data(), body.size());
    return d.finish();
}

}  // namespace cim::xml
