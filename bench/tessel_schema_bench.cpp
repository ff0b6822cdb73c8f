// Schema validation of the generated purchase-order document against a schema for it, beside
// a bare validating parse of the same document (Xerces-C's SAX2 reader, the schema loaded the
// same way, no handler): MB/s of each, their ratio, and the peak resident memory of each run
// (a forked child). Runs alternate between the two, so that the machine's load touches both.
//
//   tessel_schema_bench [--mb N] [--runs N] [--dir DIR]
#include "benchDocument.h"
#include "tessel.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>
#include <xercesc/framework/LocalFileInputSource.hpp>
#include <xercesc/sax2/DefaultHandler.hpp>
#include <xercesc/sax2/SAX2XMLReader.hpp>
#include <xercesc/sax2/XMLReaderFactory.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/validators/common/Grammar.hpp>

XERCES_CPP_NAMESPACE_USE

namespace {

const char *const kSchema =
    "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema'>\n"
    " <xs:element name='orders'><xs:complexType><xs:sequence>\n"
    "  <xs:element name='order' type='order' minOccurs='0' maxOccurs='unbounded'/>\n"
    " </xs:sequence><xs:attribute name='source' type='xs:string'/></xs:complexType>\n"
    " </xs:element>\n"
    " <xs:complexType name='order'><xs:sequence>\n"
    "  <xs:element name='customer'><xs:complexType><xs:sequence>\n"
    "   <xs:element name='name' type='xs:string'/><xs:element name='city' type='xs:string'/>\n"
    "  </xs:sequence><xs:attribute name='id' type='xs:NCName' use='required'/></xs:complexType>"
    "</xs:element>\n"
    "  <xs:element name='item' type='item' maxOccurs='5'/>\n"
    "  <xs:element name='note' type='xs:string' minOccurs='0'/>\n"
    " </xs:sequence>\n"
    " <xs:attribute name='id' type='xs:positiveInteger' use='required'/>\n"
    " <xs:attribute name='date' type='xs:date' use='required'/>\n"
    " <xs:attribute name='status'><xs:simpleType><xs:restriction base='xs:token'>"
    "<xs:enumeration value='open'/><xs:enumeration value='shipped'/></xs:restriction>"
    "</xs:simpleType></xs:attribute>\n"
    " </xs:complexType>\n"
    " <xs:complexType name='item'><xs:sequence><xs:element name='desc' type='xs:string'/>"
    "</xs:sequence>\n"
    "  <xs:attribute name='sku'><xs:simpleType><xs:restriction base='xs:string'>"
    "<xs:pattern value='SKU-[0-9]{5}'/></xs:restriction></xs:simpleType></xs:attribute>\n"
    "  <xs:attribute name='qty' type='xs:positiveInteger'/>\n"
    "  <xs:attribute name='price'><xs:simpleType><xs:restriction base='xs:decimal'>"
    "<xs:fractionDigits value='2'/><xs:minInclusive value='0'/></xs:restriction>"
    "</xs:simpleType></xs:attribute>\n"
    " </xs:complexType>\n"
    "</xs:schema>\n";

struct Run {
    double seconds = 0;
    int valid = 0;
};

// The bare validating parse: Xerces-C alone, errors ignored but counted as invalid.
struct Counting : DefaultHandler {
    int errors = 0;
    void error(const SAXParseException &) override { ++errors; }
    void fatalError(const SAXParseException &) override { ++errors; }
};

Run bare(const std::string &doc, const std::string &xsd) {
    XMLPlatformUtils::Initialize();
    Run r;
    {
        SAX2XMLReader *reader = XMLReaderFactory::createXMLReader();
        reader->setFeature(XMLUni::fgSAX2CoreNameSpaces, true);
        reader->setFeature(XMLUni::fgXercesSchema, true);
        reader->setFeature(XMLUni::fgSAX2CoreValidation, true);
        reader->setFeature(XMLUni::fgXercesUseCachedGrammarInParse, true);
        Counting handler;
        reader->setErrorHandler(&handler);
        const auto t0 = std::chrono::steady_clock::now();
        const std::u16string x(xsd.begin(), xsd.end()), d(doc.begin(), doc.end());
        reader->loadGrammar(x.c_str(), Grammar::SchemaGrammarType, true);
        reader->parse(LocalFileInputSource(d.c_str()));
        r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        r.valid = handler.errors == 0;
        delete reader;
    }
    XMLPlatformUtils::Terminate();
    return r;
}

Run tessel(const std::string &doc, const std::string &xsd) {
    Run r;
    const auto t0 = std::chrono::steady_clock::now();
    TesselStatus status{};
    TesselSchemaCall *call = tessel_schema_open(&status);
    r.valid = tessel_validate_schema(call, doc.c_str(), xsd.c_str(),
                                     TESSEL_SCHEMA_DOC_FILE | TESSEL_SCHEMA_XSD_FILE, &status);
    if (r.valid != 1) fprintf(stderr, "%s %s\n", status.sqlstate, tessel_schema_detail(call));
    tessel_schema_close(call);
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    return r;
}

// One run in a forked child: its time, validity and peak resident memory in MB.
bool inChild(bool viaTessel, const std::string &doc, const std::string &xsd, Run &run,
             double &peakMb) {
    int fds[2];
    if (pipe(fds) != 0) return false;
    fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const Run r = viaTessel ? tessel(doc, xsd) : bare(doc, xsd);
        _exit(write(fds[1], &r, sizeof r) == static_cast<ssize_t>(sizeof r) ? 0 : 1);
    }
    close(fds[1]);
    const ssize_t got = read(fds[0], &run, sizeof run);
    close(fds[0]);
    int status = 0;
    struct rusage ru {};
    if (wait4(pid, &status, 0, &ru) != pid) return false;
    peakMb = static_cast<double>(ru.ru_maxrss) / 1024;
    return got == static_cast<ssize_t>(sizeof run) && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv) {
    uint64_t mb = 100;
    int runs = 5;
    std::string dir = "/tmp/tessel-schema-bench";
    for (int i = 1; i + 1 < argc; i += 2) {
        if (strcmp(argv[i], "--mb") == 0) mb = strtoull(argv[i + 1], nullptr, 10);
        if (strcmp(argv[i], "--runs") == 0) runs = std::max(1, atoi(argv[i + 1]));
        if (strcmp(argv[i], "--dir") == 0) dir = argv[i + 1];
    }
    mkdir(dir.c_str(), 0700);
    const std::string doc = dir + "/orders.xml", xsd = dir + "/orders.xsd";
    const int64_t size = bench::generateOrders(doc, mb << 20);
    FILE *f = fopen(xsd.c_str(), "w");
    if (size < 0 || f == nullptr || fputs(kSchema, f) < 0 || fclose(f) != 0) {
        fprintf(stderr, "cannot write the documents in %s\n", dir.c_str());
        return 1;
    }
    setenv("TARN_READ_ACCESS", dir.c_str(), 1);
    setenv("TARNINSTANCE", "tessel", 0);
    setenv("TARNQAPPATH", dir.c_str(), 0);
    std::vector<double> times[2], peaks[2], ratios;
    for (int round = 0; round < runs; ++round) {
        double t[2];
        for (int k = 0; k < 2; ++k) {
            const int which = (round + k) % 2; // alternate which goes first
            Run run;
            double peak = 0;
            if (!inChild(which == 1, doc, xsd, run, peak) || run.valid != 1) {
                fprintf(stderr, "%s run failed or found the document invalid\n",
                        which == 1 ? "tessel" : "bare");
                return 1;
            }
            times[which].push_back(run.seconds);
            peaks[which].push_back(peak);
            t[which] = run.seconds;
        }
        ratios.push_back(t[0] / t[1]);
    }
    const double docMb = static_cast<double>(size) / (1 << 20);
    printf("%.1f MB document, %d runs per case (median)\n", docMb, runs);
    printf("%-28s %8s %8s\n", "case", "MB/s", "peak MB");
    printf("%-28s %8.1f %8.1f\n", "bare validating parse", docMb / median(times[0]),
           *std::max_element(peaks[0].begin(), peaks[0].end()));
    printf("%-28s %8.1f %8.1f\n", "tessel_validate_schema_file", docMb / median(times[1]),
           *std::max_element(peaks[1].begin(), peaks[1].end()));
    printf("ratio (bare time / tessel time, paired by round, median): %.2f\n", median(ratios));
    unlink(doc.c_str());
    return 0;
}
