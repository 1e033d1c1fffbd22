#include "ConfigClient.h"

#include "trace/TraceErrors.h"
#include "trace/TracePacket.h"

ConfigClient::ConfigClient(std::shared_ptr<doxi::trace::TInterface> t) : transport(std::move(t)) {}

int ConfigClient::exchange(const std::vector<uint8_t>& request, std::vector<uint8_t>& answer) {
    const std::vector<char> bytes(request.begin(), request.end());
    std::vector<char> response(kResponseSize);
    size_t received = 0;
    const int status = doxi::trace::DoxiSendAndReceiveConfig(*transport, bytes, response, bytes.size(), &received);
    answer.assign(response.begin(), response.begin() + static_cast<long>(received));
    return status;
}

trace_config_t ConfigClient::getConfig() {
    std::vector<uint8_t> answer;
    const int status = exchange(tracepkt::request(tracepkt::TRACE_CONFIG_GET), answer);
    if (answer.size() <= tracepkt::kHeaderSize + trace_config_t::kSize - 1)
        throw ConfigException(tracetools::kDoxiGeneralError);
    if (status != 0)
        throw ConfigException(status);
    trace_config_t config;
    config.decode(answer.data() + tracepkt::kHeaderSize, answer.size() - tracepkt::kHeaderSize);
    return config;
}

std::vector<uint8_t> ConfigClient::getLogHeader() {
    std::vector<uint8_t> answer;
    const int status = exchange(tracepkt::request(tracepkt::TRACE_CONFIG_GET_HEADER), answer);
    if (answer.size() <= tracepkt::kHeaderSize + trace_log_header_t::kSize - 1)
        throw ConfigException(tracetools::kDoxiGeneralError);
    if (status != 0)
        throw ConfigException(status);
    return std::vector<uint8_t>(answer.begin() + tracepkt::kHeaderSize,
                                answer.begin() + tracepkt::kHeaderSize + trace_log_header_t::kSize);
}

void ConfigClient::setConfig(const trace_config_t& config, bool isVolatile) {
    std::vector<uint8_t> request = tracepkt::request(tracepkt::TRACE_CONFIG_SET);
    const std::vector<uint8_t> record = config.encode();
    request.insert(request.end(), record.begin(), record.end());
    request.push_back(isVolatile ? 1 : 0);
    std::vector<uint8_t> answer;
    const int status = exchange(request, answer);
    if (answer.size() <= 3)
        throw tracetools::TraceException(tracetools::kDoxiGeneralError);
    if (status != 0)
        throw ConfigException(status);
}
