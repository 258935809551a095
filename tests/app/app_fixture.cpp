#include "app_fixture.hpp"

#include <QApplication>

namespace trajix::test {

namespace {

// One QApplication for the whole test program, created before the first test.
class QtEnvironment final : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "test_app";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { app_.reset(); }

private:
    std::unique_ptr<QApplication> app_;
};

[[maybe_unused]] ::testing::Environment* const qtEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace

void AppTest::SetUp()
{
    configPath = dir / "trajix-gui.ini";
    qputenv("TRAJIX_CONFIG", QByteArray::fromStdString(configPath.string()));
    qputenv("TRAJIX_ADVERT_URL", "");
}

void AppTest::TearDown()
{
    qunsetenv("TRAJIX_CONFIG");
    qunsetenv("TRAJIX_ADVERT_URL");
}

std::unique_ptr<gui::MainWindow> AppTest::startWindow(const gui::StartOptions& options)
{
    auto form = std::make_unique<gui::MainWindow>(options);
    form->setPrompt(&prompt);
    form->activateOnce();
    return form;
}

void AppTest::writeSettingsFile(std::string_view text)
{
    writeFileBytes(configPath, text);
}

std::string AppTest::settingsText() const
{
    return readFileBytes(configPath);
}

}  // namespace trajix::test
