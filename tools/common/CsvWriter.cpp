#include "CsvWriter.h"

#include "DepthCsv.h"

namespace mdtools {

CsvWriter::~CsvWriter()
{
    Close();
}

bool CsvWriter::Open(const std::string& path, std::string& error)
{
    std::lock_guard<std::mutex> lk(mu_);
    file_ = std::fopen(path.c_str(), "wb");
    if (!file_) {
        error = "cannot create " + path;
        return false;
    }
    const std::string header = mdtools::DepthCsvHeader() + "\n";
    failed_ = std::fwrite(header.data(), 1, header.size(), file_) != header.size();
    return true;
}

void CsvWriter::Write(long long recvUs, const CThostFtdcDepthMarketDataField& depth)
{
    const std::string row = mdtools::DepthCsvRow(recvUs, depth) + "\n";
    std::lock_guard<std::mutex> lk(mu_);
    if (file_ && std::fwrite(row.data(), 1, row.size(), file_) != row.size())
        failed_ = true;
}

bool CsvWriter::Close()
{
    std::lock_guard<std::mutex> lk(mu_);
    if (!file_)
        return !failed_;
    if (std::fclose(file_) != 0)
        failed_ = true;
    file_ = nullptr;
    return !failed_;
}

} // namespace mdtools
