#include "Screenshot.h"

#include <objbase.h>
#include <wincodec.h>

namespace winetest {

namespace {

// Releases a COM interface when it goes.
template <typename Interface>
class Held {
 public:
  Held() = default;
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;
  ~Held() {
    if (p_ != nullptr) p_->Release();
  }
  Interface** Out() { return &p_; }
  Interface* operator->() const { return p_; }
  Interface* Get() const { return p_; }

 private:
  Interface* p_ = nullptr;
};

std::string Failed(const char* step, HRESULT result) {
  char text[96];
  wsprintfA(text, "%s failed: 0x%08lX", step, static_cast<unsigned long>(result));
  return text;
}

// The window's rectangle of the screen as a bitmap; null when it cannot be copied.
HBITMAP CopyFromScreen(HWND window) {
  RECT r;
  if (!GetWindowRect(window, &r)) return nullptr;
  const int width = r.right - r.left, height = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  const BOOL copied = BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
  SelectObject(memory, old);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  if (!copied) {
    DeleteObject(bitmap);
    return nullptr;
  }
  return bitmap;
}

std::string EncodePng(IWICImagingFactory* factory, HBITMAP bitmap, std::string* png) {
  Held<IWICBitmap> source;
  HRESULT hr =
      factory->CreateBitmapFromHBITMAP(bitmap, nullptr, WICBitmapIgnoreAlpha, source.Out());
  if (FAILED(hr)) return Failed("CreateBitmapFromHBITMAP", hr);
  Held<IStream> stream;
  hr = CreateStreamOnHGlobal(nullptr, TRUE, stream.Out());
  if (FAILED(hr)) return Failed("CreateStreamOnHGlobal", hr);
  Held<IWICBitmapEncoder> encoder;
  hr = factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, encoder.Out());
  if (SUCCEEDED(hr)) hr = encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache);
  if (FAILED(hr)) return Failed("the PNG encoder", hr);
  Held<IWICBitmapFrameEncode> frame;
  Held<IPropertyBag2> options;
  hr = encoder->CreateNewFrame(frame.Out(), options.Out());
  if (SUCCEEDED(hr)) hr = frame->Initialize(options.Get());
  UINT width = 0, height = 0;
  if (SUCCEEDED(hr)) hr = source->GetSize(&width, &height);
  if (SUCCEEDED(hr)) hr = frame->SetSize(width, height);
  WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
  if (SUCCEEDED(hr)) hr = frame->SetPixelFormat(&format);
  if (SUCCEEDED(hr)) hr = frame->WriteSource(source.Get(), nullptr);
  if (SUCCEEDED(hr)) hr = frame->Commit();
  if (SUCCEEDED(hr)) hr = encoder->Commit();
  if (FAILED(hr)) return Failed("encoding the frame", hr);

  HGLOBAL memory = nullptr;
  hr = GetHGlobalFromStream(stream.Get(), &memory);
  STATSTG stat = {};
  if (SUCCEEDED(hr)) hr = stream->Stat(&stat, STATFLAG_NONAME);
  if (FAILED(hr)) return Failed("reading the stream", hr);
  const char* bytes = static_cast<const char*>(GlobalLock(memory));
  png->assign(bytes, static_cast<size_t>(stat.cbSize.QuadPart));
  GlobalUnlock(memory);
  return "";
}

// The bitmap's pixels, to compare two copies.
std::string PixelsOf(HBITMAP bitmap) {
  BITMAP info = {};
  GetObjectA(bitmap, sizeof info, &info);
  BITMAPINFO format = {};
  format.bmiHeader.biSize = sizeof format.bmiHeader;
  format.bmiHeader.biWidth = info.bmWidth;
  format.bmiHeader.biHeight = info.bmHeight;
  format.bmiHeader.biPlanes = 1;
  format.bmiHeader.biBitCount = 32;
  format.bmiHeader.biCompression = BI_RGB;
  std::string pixels(static_cast<size_t>(info.bmWidth) * info.bmHeight * 4, '\0');
  HDC screen = GetDC(nullptr);
  GetDIBits(screen, bitmap, 0, info.bmHeight, &pixels[0], &format, DIB_RGB_COLORS);
  ReleaseDC(nullptr, screen);
  return pixels;
}

// The window as the screen shows it once it has stopped changing. Its program paints on its
// own thread, and under Wine the paint reaches the X screen a little later, so the window is
// painted anew and copied until two copies in a row agree.
HBITMAP SettledCopy(HWND window) {
  RedrawWindow(window, nullptr, nullptr,
               RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
  HBITMAP last = nullptr;
  std::string lastPixels;
  for (int attempt = 0; attempt < 50; ++attempt) {
    Sleep(100);
    HBITMAP copy = CopyFromScreen(window);
    if (copy == nullptr) break;
    std::string pixels = PixelsOf(copy);
    if (last != nullptr && pixels == lastPixels) {
      DeleteObject(last);
      return copy;
    }
    if (last != nullptr) DeleteObject(last);
    last = copy;
    lastPixels.swap(pixels);
  }
  if (last != nullptr) DeleteObject(last);
  return nullptr;
}

}  // namespace

std::string ScreenshotPng(HWND window, std::string* png) {
  HBITMAP bitmap = SettledCopy(window);
  if (bitmap == nullptr) return "the window could not be copied from the screen, or kept changing";
  const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  std::string failed;
  {
    Held<IWICImagingFactory> factory;
    HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_PPV_ARGS(factory.Out()));
    failed = FAILED(hr) ? Failed("the imaging factory", hr) : EncodePng(factory.Get(), bitmap, png);
  }
  if (SUCCEEDED(init)) CoUninitialize();
  DeleteObject(bitmap);
  return failed;
}

}  // namespace winetest
