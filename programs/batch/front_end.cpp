// What orvalix-batch does to an utterance's rows between the analysis and the output file.
#include "programs/batch/batch.h"

namespace {

// HTK parameter kinds and qualifiers.
constexpr uint16_t HTK_MFCC = 6, HTK_FBANK = 7;
constexpr uint16_t HTK_DELTAS = 0x100, HTK_ACCELERATIONS = 0x200, HTK_ZERO_MEAN = 0x800,
                   HTK_C0 = 0x2000;

bool withC0(const BatchSettings& settings) {
    return !settings.frontEnd.filterbank && settings.analysis.includeC0 != 0;
}


}  // namespace

uint16_t htkKind(const BatchSettings& settings) {
    const FrontEnd& front = settings.frontEnd;
    uint16_t kind = front.filterbank ? HTK_FBANK : HTK_MFCC;
    if (withC0(settings)) kind |= HTK_C0;
    if (front.deltaOrder >= 1) kind |= HTK_DELTAS;
    if (front.deltaOrder >= 2) kind |= HTK_ACCELERATIONS;
    if (front.cmvn) kind |= HTK_ZERO_MEAN;
    return kind;
}

bool finishFeatures(const BatchSettings& settings, OrvalixFeatures* features,
                    std::vector<uint8_t>* labels, std::string* message) {
    const FrontEnd& front = settings.frontEnd;
    OrvalixFrontEnd chain = orvalix_default_front_end();
    chain.filterbankRows = front.filterbank;
    chain.includeC0 = withC0(settings);
    chain.c0Last = settings.format == OutputFormat::Htk;
    chain.deltaOrder = front.deltaOrder;
    chain.deltaWindow = front.deltaWindow;
    chain.cmvn = front.cmvn;
    chain.cmvnSettings = front.cmvnSettings;
    chain.voicedOnly = front.voicedOnly;
    OrvalixLabels decided;
    OrvalixError error;
    if (orvalix_front_end(features, &chain, front.vadLabels ? &decided : nullptr, &error) != ORVALIX_OK) {
        *message = error.message;
        return false;
    }
    if (front.vadLabels) {
        labels->assign(decided.values, decided.values + decided.count);
        orvalix_release_labels(&decided);
    }
    return true;
}
