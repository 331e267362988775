#include "catalogue/OperationFactories.h"

namespace qv {

std::shared_ptr<FileOperation> makeConversionOperation(const OperationContext& context,
                                                       OperationBody run)
{
    return std::make_shared<BlockOperation>(
        [context, run = std::move(run)](const QList<QUrl>& inputs, OutputPlanner& planner,
                                        Progress& progress) {
            return run(context, inputs, planner, progress);
        });
}

std::shared_ptr<FileOperation> makeBlockOperation(const OperationContext& context,
                                                  const OperationBody& body)
{
    return makeConversionOperation(context, body);
}

OperationDescriptor::Factory conversionFactory(OperationBody run)
{
    return [run = std::move(run)](const OperationContext& context) {
        return makeConversionOperation(context, run);
    };
}

OperationDescriptor::Factory blockFactory(OperationBody body)
{
    return [body = std::move(body)](const OperationContext& context) {
        return makeBlockOperation(context, body);
    };
}

OperationBody noOutputAdapter(NoOutputBody body)
{
    return [body = std::move(body)](const OperationContext& context, const QList<QUrl>& files,
                                    OutputPlanner& planner, Progress& progress) {
        if (!files.isEmpty())
            body(files.first(), context, planner, progress);
        return QList<QUrl>();
    };
}

OperationBody singleOutputAdapter(SingleOutputBody body)
{
    return [body = std::move(body)](const OperationContext& context, const QList<QUrl>& files,
                                    OutputPlanner& planner, Progress& progress) {
        if (files.isEmpty())
            return QList<QUrl>();
        return QList<QUrl>{body(files.first(), context, planner, progress)};
    };
}

} // namespace qv
