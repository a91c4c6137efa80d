#include "checks/ServiceCheck.h"

#include "checks/ShownText.h"
#include "pcsc/MainThread.h"

namespace checks {

ServiceCheck::ServiceCheck(ReportPane& pane) : lecteur1(pane) {}

ServiceCheck::~ServiceCheck() {
    Stop();
    if (FIdleInstalled) {
        if (pcsc::MainThreadDispatcher* loop = pcsc::MainThread()) loop->SetIdleHook(nullptr);
    }
}

void ServiceCheck::Stop() {
    FPCSC.reset();
}

void ServiceCheck::btn_configClick() {
    lecteur1.Clear();
    if (pcsc::MainThreadDispatcher* loop = pcsc::MainThread()) {
        loop->SetIdleHook([this] {
            bool done = true;
            AppIdle(done);
        });
        FIdleInstalled = true;
    }
    // The previous manager goes first: its watcher is stopped and its
    // contexts released, instead of polling for the rest of the program.
    FPCSC.reset();
    FPCSC = std::make_unique<pcsc::TPCSC>();
    if (!FPCSC->Valid()) {
        lecteur1.Append(u"Erreur lors de la connexion au service\r\n", kBold, kRed);
        return;
    }
    lecteur1.Append(u"Connecté au service\r\n", kBold, kGreen);
    lecteur1.Append(u"Liste des lecteurs :\r\n", kUnderline, kBlack);
    FPCSC->SetOnReaderFound(
        [this](pcsc::TPCSC* sender, const std::u16string& name) { PCSCReaderFound(sender, name); });
    FPCSC->SetGetReaderDetails(FReadReaderDetails);
    FPCSC->Start();
}

void ServiceCheck::AppIdle(bool& Done) {
    if (FPCSC && FPCSC->Valid()) FPCSC->ProcessEvent();
    Done = true;
}

void ServiceCheck::PCSCReaderFound(pcsc::TPCSC*, const std::u16string& ReaderName) {
    lecteur1.Append(ShownText(ReaderName) + u"\r\n", kPlain, kBlack);
}

}  // namespace checks
