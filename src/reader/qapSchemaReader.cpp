// The schema-validating reader: loads an XML Schema under the parse's bounds, refuses what
// would make the validator unbounded (content models whose automaton explodes, patterns that
// backtrack exponentially), and resolves the schema's documents by the read-access rule.
#include "qapSchemaReader.h"

#include <string>
#include <unordered_set>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/util/XMLResourceIdentifier.hpp>
#include <xercesc/util/XMLUni.hpp>
#include <xercesc/validators/common/ContentSpecNode.hpp>
#include <xercesc/validators/datatype/DatatypeValidatorFactory.hpp>
#include <xercesc/validators/datatype/ListDatatypeValidator.hpp>
#include <xercesc/validators/datatype/UnionDatatypeValidator.hpp>
#include <xercesc/validators/schema/ComplexTypeInfo.hpp>
#include <xercesc/validators/schema/SchemaAttDef.hpp>
#include <xercesc/validators/schema/SchemaElementDecl.hpp>
#include <xercesc/validators/schema/SchemaGrammar.hpp>

XERCES_CPP_NAMESPACE_USE

namespace {

[[noreturn]] void refuseSchema(const std::u16string &text) {
    throw SAXParseException(text.c_str(), nullptr, nullptr, 0, 0);
}

// The positions of a content model once the validator expands every particle's occurrences
// (an element or wildcard repeats as one counted position), counted without recursion.
bool modelWithinBounds(const ContentSpecNode *root) {
    struct Frame {
        const ContentSpecNode *node;
        bool expanded;
    };
    std::vector<Frame> stack{{root, false}};
    std::vector<uint64_t> sizes; // of the children done, innermost last
    uint64_t nodes = 0;
    while (!stack.empty()) {
        const Frame frame = stack.back();
        stack.pop_back();
        const ContentSpecNode *node = frame.node;
        if (!frame.expanded) {
            if (++nodes > kSchemaMaxNodes) return false;
            stack.push_back({node, true});
            if (node->getSecond() != nullptr) stack.push_back({node->getSecond(), false});
            if (node->getFirst() != nullptr) stack.push_back({node->getFirst(), false});
            continue;
        }
        uint64_t size = 0;
        const int type = node->getType() & 0x0f;
        if (type == ContentSpecNode::Leaf || type == ContentSpecNode::Any ||
            type == ContentSpecNode::Any_Other || type == ContentSpecNode::Any_NS) {
            size = 1;
        } else {
            if (node->getSecond() != nullptr) size += sizes.back(), sizes.pop_back();
            if (node->getFirst() != nullptr) size += sizes.back(), sizes.pop_back();
            const int max = node->getMaxOccurs();
            const uint64_t min = node->getMinOccurs() > 0 ? node->getMinOccurs() : 0;
            const uint64_t copies = max < 0 ? min + 1 : static_cast<uint64_t>(max);
            if (copies > kSchemaMaxPositions) return false;
            size *= copies > 0 ? copies : 1;
        }
        if (size > kSchemaMaxPositions) return false;
        sizes.push_back(size);
    }
    return true;
}

// A datatype's own pattern, which Xerces-C keeps protected.
struct PatternAccess : DatatypeValidator {
    static const XMLCh *of(const DatatypeValidator &validator) {
        return (validator.*static_cast<const XMLCh *(DatatypeValidator::*)() const>(
                               &PatternAccess::getPattern))();
    }
};

// What a grammar holds, each piece checked once.
class GrammarCheck {
public:
    void type(ComplexTypeInfo *info) {
        if (info == nullptr || !types_.insert(info).second) return;
        if (info->getContentSpec() != nullptr && !modelWithinBounds(info->getContentSpec()))
            refuseSchema(std::u16string(u"Content model too large: type ") +
                         (info->getAnonymous() || info->getTypeName() == nullptr
                              ? u"(anonymous)"
                              : info->getTypeName()));
        datatype(info->getDatatypeValidator());
        XMLAttDefList &attributes = info->getAttDefList();
        for (XMLSize_t i = 0; i < attributes.getAttDefCount(); ++i)
            datatype(static_cast<SchemaAttDef &>(attributes.getAttDef(i)).getDatatypeValidator());
        type(info->getBaseComplexTypeInfo());
    }
    void datatype(DatatypeValidator *validator) {
        for (; validator != nullptr; validator = validator->getBaseValidator()) {
            if (!datatypes_.insert(validator).second) return;
            const XMLCh *pattern = PatternAccess::of(*validator);
            const RefArrayVectorOf<XMLCh> *values = validator->getEnumString();
            if (values != nullptr && values->size() > kSchemaMaxEnumeration)
                refuseSchema(u"Enumeration too long: " +
                             std::u16string(validator->getTypeLocalName() != nullptr
                                                ? validator->getTypeLocalName()
                                                : u"(anonymous)"));
            if (pattern != nullptr && !qapPatternWithinBounds(pattern))
                refuseSchema(std::u16string(u"Pattern may backtrack without bound: ") + pattern);
            if (validator->getType() == DatatypeValidator::List)
                datatype(static_cast<ListDatatypeValidator *>(validator)->getItemTypeDTV());
            if (validator->getType() == DatatypeValidator::Union) {
                auto *members =
                    static_cast<UnionDatatypeValidator *>(validator)->getMemberTypeValidators();
                for (XMLSize_t i = 0; members != nullptr && i < members->size(); ++i)
                    datatype(members->elementAt(i));
            }
        }
    }

private:
    std::unordered_set<const void *> types_;
    std::unordered_set<const void *> datatypes_;
};

} // namespace

QapSchemaReader::QapSchemaReader(QapRoutineCtx *ctx, QapParseMemory *manager)
    : QapGuardedReader(ctx, manager) {
    setFeature(XMLUni::fgSAX2CoreNameSpaces, true);
    setFeature(XMLUni::fgSAX2CoreNameSpacePrefixes, false);
    setFeature(XMLUni::fgSAX2CoreValidation, true);
    setFeature(XMLUni::fgXercesDynamic, false);
    setFeature(XMLUni::fgXercesSchema, true);
    setFeature(XMLUni::fgXercesSchemaFullChecking, false); // builds every automaton unchecked
    setFeature(XMLUni::fgXercesIdentityConstraintChecking, true);
    setFeature(XMLUni::fgXercesUseCachedGrammarInParse, true);
    setFeature(XMLUni::fgXercesCacheGrammarFromParse, false);
    setFeature(XMLUni::fgXercesSkipDTDValidation, true);
    setFeature(XMLUni::fgXercesLoadSchema, qapExternalEntitiesAllowed());
    setEntityResolver(&emptyDtd_);
}

InputSource *QapSchemaReader::EmptyDtd::resolveEntity(const XMLCh *const, const XMLCh *const) {
    static const XMLByte empty[1] = {0};
    return new MemBufInputSource(empty, 0, u"IdForEmptyDtd", false);
}

void QapSchemaReader::loadSchema(const InputSource &schema, bool schemaFiles) {
    schemaFiles_ = schemaFiles;
    namespaces_.clear();
    beginParse();
    resetCachedGrammarPool();
    const auto here = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
    Grammar *grammar = nullptr;
    watched(reinterpret_cast<const void *>(here - kSchemaStack),
            [&] { grammar = loadGrammar(schema, Grammar::SchemaGrammarType, true); });
    if (const QapParseStop *refusal = this->refusal()) throw *refusal;
    if (grammar == nullptr) refuseSchema(u"The schema could not be read");
    checkGrammar(grammar);
    for (const std::u16string &uri : namespaces_)
        if (Grammar *imported = getGrammar(uri.c_str())) checkGrammar(imported);
}

void QapSchemaReader::checkGrammar(Grammar *grammar) {
    if (grammar->getGrammarType() != Grammar::SchemaGrammarType) return;
    auto *schema = static_cast<SchemaGrammar *>(grammar);
    GrammarCheck check;
    RefHash3KeysIdPoolEnumerator<SchemaElementDecl> elements = schema->getElemEnumerator();
    while (elements.hasMoreElements()) {
        SchemaElementDecl &decl = elements.nextElement();
        check.type(decl.getComplexTypeInfo());
        check.datatype(decl.getDatatypeValidator());
    }
    if (RefHashTableOf<ComplexTypeInfo> *types = schema->getComplexTypeRegistry()) {
        RefHashTableOfEnumerator<ComplexTypeInfo> all(types, false,
                                                      XMLPlatformUtils::fgMemoryManager);
        while (all.hasMoreElements())
            check.type(&all.nextElement());
    }
    if (DVHashTable *datatypes = schema->getDatatypeRegistry()->getUserDefinedRegistry()) {
        RefHashTableOfEnumerator<DatatypeValidator> all(datatypes, false,
                                                        XMLPlatformUtils::fgMemoryManager);
        while (all.hasMoreElements())
            check.datatype(&all.nextElement());
    }
    if (RefHashTableOf<XMLAttDef> *attributes = schema->getAttributeDeclRegistry()) {
        RefHashTableOfEnumerator<XMLAttDef> all(attributes, false,
                                                XMLPlatformUtils::fgMemoryManager);
        while (all.hasMoreElements())
            check.datatype(static_cast<SchemaAttDef &>(all.nextElement()).getDatatypeValidator());
    }
}

InputSource *QapSchemaReader::resolveEntity(XMLResourceIdentifier *resource) {
    switch (resource->getResourceIdentifierType()) {
    case XMLResourceIdentifier::SchemaImport:
    case XMLResourceIdentifier::SchemaInclude:
    case XMLResourceIdentifier::SchemaRedefine: {
        const XMLCh *location = resource->getSchemaLocation();
        if (location == nullptr || *location == 0) return nullptr; // a namespace, no document
        std::u16string text = u"Schema document not read: ";
        if (location != nullptr) text += location;
        if (!schemaFiles_) {
            if (const Locator *at = resource->getLocator())
                throw SAXParseException(text.c_str(), *at);
            refuseSchema(text);
        }
        if (resource->getNameSpace() != nullptr) namespaces_.emplace_back(resource->getNameSpace());
        return resolveFile(resource);
    }
    case XMLResourceIdentifier::SchemaGrammar:
        if (resource->getNameSpace() != nullptr) namespaces_.emplace_back(resource->getNameSpace());
        return QapGuardedReader::resolveEntity(resource);
    default:
        return QapGuardedReader::resolveEntity(resource);
    }
}

namespace {

// One atom of a pattern as far as the check needs it: its text, and whether it could match a
// given character (a class it cannot read counts as matching everything).
struct Atom {
    std::u16string text;
    bool isGroup = false;
    bool matches(char16_t c) const {
        if (isGroup || text.empty()) return true;
        if (text == u".") return c != u'\n' && c != u'\r';
        if (text[0] == u'\\' && text.size() == 2) {
            if (text[1] == u'd') return c >= u'0' && c <= u'9';
            if (text[1] == u's') return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r';
            return true; // \w, \i, \c and the complements: anything may be in them
        }
        if (text[0] == u'[') {
            // A plain class of characters and ranges; anything more is taken as everything.
            if (text.size() < 3 || text[1] == u'^' ||
                text.find_first_of(u"\\[", 1) != std::u16string::npos)
                return true;
            for (size_t i = 1; i + 1 < text.size(); ++i) {
                if (i + 2 < text.size() - 1 && text[i + 1] == u'-') {
                    if (c >= text[i] && c <= text[i + 2]) return true;
                    i += 2;
                } else if (text[i] == c) {
                    return true;
                }
            }
            return false;
        }
        return text.size() != 1 || text[0] == c;
    }
};

// A group being read: the first atom of each branch, the atoms repeated a variable number of
// times within it (nested groups' too), and the literal characters every match must contain.
struct Group {
    std::vector<std::u16string> firsts{u""};
    std::vector<Atom> variable;
    std::vector<char16_t> mandatory;
    bool newBranch = true;
};

} // namespace

bool qapPatternWithinBounds(const char16_t *pattern) {
    std::vector<Group> groups(1);
    const std::u16string p = pattern;
    size_t i = 0;
    while (i < p.size()) {
        Group &group = groups.back();
        const char16_t c = p[i];
        if (c == u'|') {
            group.firsts.emplace_back();
            group.newBranch = true;
            group.mandatory.clear(); // a character is mandatory only in a group of one branch
            ++i;
            continue;
        }
        if (c == u'(') {
            groups.emplace_back();
            ++i;
            continue;
        }
        Atom atom;
        Group inner;
        if (c == u')') {
            if (groups.size() < 2) return true; // malformed: the parser's to report
            inner = std::move(groups.back());
            groups.pop_back();
            atom.isGroup = true;
            ++i;
        } else if (c == u'[') {
            size_t depth = 0, j = i;
            for (; j < p.size(); ++j) {
                if (p[j] == u'\\')
                    ++j;
                else if (p[j] == u'[')
                    ++depth;
                else if (p[j] == u']' && --depth == 0)
                    break;
            }
            atom.text = p.substr(i, j + 1 - i);
            i = j + 1;
        } else if (c == u'\\' && i + 1 < p.size()) {
            size_t j = i + 2;
            if ((p[i + 1] == u'p' || p[i + 1] == u'P') && j < p.size() && p[j] == u'{') {
                while (j < p.size() && p[j] != u'}')
                    ++j;
                atom.text = u"\\w"; // a category: anything
                i = j + 1;
            } else {
                const char16_t e = p[i + 1];
                const bool single =
                    std::u16string(u"nrt\\|.?*+(){}-[]^").find(e) != std::u16string::npos;
                atom.text = single ? std::u16string(1, e == u'n'   ? u'\n'
                                                       : e == u'r' ? u'\r'
                                                       : e == u't' ? u'\t'
                                                                   : e)
                                   : p.substr(i, 2);
                i += 2;
            }
        } else {
            atom.text = std::u16string(1, c);
            ++i;
        }
        // Its quantifier.
        uint64_t min = 1, max = 1;
        if (i < p.size() && (p[i] == u'*' || p[i] == u'+' || p[i] == u'?')) {
            min = p[i] == u'+' ? 1 : 0;
            max = p[i] == u'?' ? 1 : UINT64_MAX;
            ++i;
        } else if (i < p.size() && p[i] == u'{') {
            size_t j = i + 1;
            min = 0;
            while (j < p.size() && p[j] >= u'0' && p[j] <= u'9')
                min = min * 10 + (p[j++] - u'0');
            max = min;
            if (j < p.size() && p[j] == u',') {
                max = UINT64_MAX;
                if (j + 1 < p.size() && p[j + 1] != u'}') max = 0;
                while (++j < p.size() && p[j] >= u'0' && p[j] <= u'9')
                    max = max * 10 + (p[j] - u'0');
            }
            while (j < p.size() && p[j] != u'}')
                ++j;
            i = j + 1;
            if (min > 1000 || (max != UINT64_MAX && max > 1000)) min = max = 1001;
        }
        Group &outer = groups.back();
        if (atom.isGroup && max > 1) {
            // A repeated group: its repetitions must not split a text in several ways.
            for (size_t a = 0; a < inner.firsts.size(); ++a)
                for (size_t b = a + 1; b < inner.firsts.size(); ++b)
                    if (inner.firsts[a] == inner.firsts[b]) return false;
            if (!inner.variable.empty()) {
                bool separated = false;
                for (char16_t m : inner.mandatory) {
                    bool absorbed = false;
                    for (const Atom &v : inner.variable)
                        absorbed = absorbed || v.matches(m);
                    separated = separated || !absorbed;
                }
                if (!separated) return false;
            }
        }
        if (atom.isGroup) {
            for (Atom &v : inner.variable)
                outer.variable.push_back(std::move(v));
            if (inner.firsts.size() == 1 && min >= 1)
                for (char16_t m : inner.mandatory)
                    outer.mandatory.push_back(m);
        }
        if (min != max)
            outer.variable.push_back(atom);
        else if (!atom.isGroup && min >= 1 && atom.text.size() == 1)
            outer.mandatory.push_back(atom.text[0]);
        if (outer.newBranch) {
            outer.firsts.back() = atom.isGroup ? u"(" + inner.firsts.front() : atom.text;
            outer.newBranch = false;
        }
    }
    return true;
}
