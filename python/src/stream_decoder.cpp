#include "python/src/stream_decoder.h"

#include "python/src/picture_array.h"

namespace py = pybind11;

namespace {
const size_t kHeadBytes = 256;
}

StreamDecoder::StreamDecoder(int32_t interval, bool exact, bool lowMemory, bool sharpen)
{
    if (interval < 0)
        throw py::value_error("interval takes a number of bytes from 0 up (0: no partial pictures)");
    ZrRequest request = decodeRequest(exact, lowMemory, sharpen);
    decoder_ = zrIncrementalNew(&request, interval, interval > 0 ? collect : nullptr, this);
    if (!decoder_)
        throw std::bad_alloc();
}

StreamDecoder::~StreamDecoder()
{
    zrIncrementalFree(decoder_);
}

int32_t StreamDecoder::collect(void* context, const ZrPartial* partial)
{
    StreamDecoder* self = static_cast<StreamDecoder*>(context);
    size_t bytes = size_t(partial->partHeight) * size_t(partial->partWidth) * size_t(partial->bytesPerPixel);
    self->due_.push_back(Partial{std::vector<uint8_t>(partial->pixels, partial->pixels + bytes), partial->partHeight,
                                 partial->partWidth, partial->channels, partial->bytesPerPixel, partial->position});
    return 0;
}

py::list StreamDecoder::takePartials()
{
    py::list out;
    for (const Partial& p : due_)
        out.append(py::make_tuple(pictureArray(p.pixels.data(), p.partHeight, p.partWidth, p.channels, p.bytesPerPixel),
                                  p.position));
    due_.clear();
    return out;
}

void StreamDecoder::refuse(int32_t status)
{
    due_.clear();
    if (status == ZR_STATUS_BAD_ARGUMENT || status == ZR_STATUS_FINISHED)
        throw py::value_error(decoder_ ? "the stream has already been finished" : "the decoder is closed");
    throwRefusal(status, head_.data(), head_.size());
}

py::list StreamDecoder::feed(py::buffer chunk)
{
    py::buffer_info in = chunk.request();
    const uint8_t* data = static_cast<const uint8_t*>(in.ptr);
    size_t size = size_t(in.size * in.itemsize);
    if (head_.size() < kHeadBytes)
        head_.insert(head_.end(), data, data + std::min(size, kHeadBytes - head_.size()));
    int32_t status;
    {
        py::gil_scoped_release unlocked;
        status = zrIncrementalAppend(decoder_, data, size);
    }
    if (status != 0)
        refuse(status);
    return takePartials();
}

py::tuple StreamDecoder::finish()
{
    ZrPicture picture{};
    int32_t status;
    {
        py::gil_scoped_release unlocked;
        status = zrIncrementalFinish(decoder_, &picture);
    }
    if (status != 0 || !picture.pixels) {
        zrFree(&picture);
        refuse(status);
    }
    py::list partials = takePartials();
    py::array final = pictureArray(picture.pixels, picture.height, picture.width, picture.channels,
                                   picture.bytesPerPixel);
    zrFree(&picture);
    return py::make_tuple(partials, final);
}

py::object StreamDecoder::header() const
{
    ZrPicture info{};
    if (zrIncrementalInfo(decoder_, &info) != 0)
        return py::none();
    py::dict d;
    d["height"] = info.height;
    d["width"] = info.width;
    d["channels"] = info.channels;
    d["bits_per_sample"] = info.bitsPerSample;
    return d;
}

void StreamDecoder::close()
{
    zrIncrementalFree(decoder_);
    decoder_ = nullptr;
}
