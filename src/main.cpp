#include "app/Application.h"
#include "platform/Log.h"

int main(int argc, char** argv)
{
    qv::Application app(argc, argv);
    qCInfo(qv::appLog, "Quorvenda started");
    return app.exec();
}
