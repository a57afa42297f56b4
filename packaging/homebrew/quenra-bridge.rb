# The cask of the project's own tap. scripts/package-macos fills in version and sha256 from the
# zip it makes, and url and homepage from the project's repository (QUENRA_REPOSITORY in
# scripts/lib/macos.sh), whose release of each version carries the zip; a published cask never
# keeps the all-zero placeholder nor OWNER/NAME.
cask "quenra-bridge" do
  version "0.1.0"
  sha256 "0000000000000000000000000000000000000000000000000000000000000000"

  url "https://github.com/OWNER/NAME/releases/download/v#{version}/QuenraBridge-#{version}-arm64.zip"
  name "Quenra Bridge"
  desc "Drags MIDI clips built in Chrome into a DAW as real files"
  homepage "https://github.com/OWNER/NAME"

  depends_on arch: :arm64
  depends_on macos: ">= :sequoia"

  app "Quenra Bridge.app"
  binary "#{appdir}/Quenra Bridge.app/Contents/MacOS/quenra-bridge-setup"

  # The registrations (release and development, in every browser's user-data folder), the
  # backups that --register --replace made, and the clip cache.
  zap trash: [
    "~/Library/Application Support/*/NativeMessagingHosts/tech.ostrell.quenra.bridge*.json",
    "~/Library/Application Support/*/NativeMessagingHosts/tech.ostrell.quenra.bridge.backup-*.json.bak",
    "~/Library/Application Support/*/*/NativeMessagingHosts/tech.ostrell.quenra.bridge*.json",
    "~/Library/Application Support/*/*/NativeMessagingHosts/tech.ostrell.quenra.bridge.backup-*.json.bak",
    "~/Library/Caches/tech.ostrell.quenra.bridge",
  ]

  caveats <<~EOS
    Register the helper with your browser (Chrome unless you name another):
      quenra-bridge-setup --register
      quenra-bridge-setup --register --browser all

    A build signed ad hoc (not with a Developer ID and notarized) is stopped by Gatekeeper on
    macOS 15 the first time it runs, as the window or as quenra-bridge-setup in Terminal:
    "Quenra Bridge" cannot be verified, and Control-click → Open no longer gets past it. Choose
    System Settings → Privacy & Security → Open Anyway (below "Security", naming Quenra Bridge),
    confirm with your password, and run it again. Chrome starts the helper itself afterwards.
  EOS
end
