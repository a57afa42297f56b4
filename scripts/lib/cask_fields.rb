# Evaluates a cask file as Homebrew's cask DSL does, far enough to print what the release checks
# compare: version, sha256, url and homepage, one "key value" a line, with the url's #{version}
# filled in by Ruby itself. Every other stanza is accepted and ignored.
# Usage: ruby cask_fields.rb CASK

# The cask block's receiver: records the four fields, answers version and appdir when asked.
class CaskFields
  attr_reader :fields

  def initialize
    @fields = {}
  end

  def version(value = nil)
    return @fields['version'] if value.nil?

    @fields['version'] = value
  end

  %w[sha256 url homepage].each do |key|
    define_method(key) { |value, **_options| @fields[key] = value }
  end

  def appdir
    '/Applications'
  end

  def method_missing(_name, *_arguments, **_options)
    nil
  end

  def respond_to_missing?(_name, _include_private = false)
    true
  end
end

def cask(_token, &block)
  receiver = CaskFields.new
  receiver.instance_eval(&block)
  receiver.fields.each { |key, value| puts "#{key} #{value}" }
end

abort 'usage: ruby cask_fields.rb CASK' unless ARGV.length == 1
load ARGV[0]
